// The program's help document: short topics, each found by its context
// number. The file is plain text:
//
//   # a comment line
//   @0x503F1 Title of the topic
//   Body text; lines of one paragraph are joined, an empty line starts a
//   new paragraph.
//
// A topic runs from its "@" line to the next one. Context numbers are
// decimal or hexadecimal (0x...).
#ifndef KVCATOOL_GUI_HELP_H
#define KVCATOOL_GUI_HELP_H

#include <QString>
#include <cstdint>
#include <map>

namespace kvgui {

struct HelpTopic {
  uint32_t context = 0;
  QString title;
  QString body;  // paragraphs separated by "\n\n"
};

class HelpDocument {
 public:
  // Reads |path|; false (and an empty document) when it cannot be read.
  bool Load(const QString& path);
  // Parses the text of a help document; lines that are not understood are
  // skipped.
  void Parse(const QString& text);
  const HelpTopic* Find(uint32_t context) const;
  const std::map<uint32_t, HelpTopic>& topics() const { return topics_; }
  const QString& path() const { return path_; }

  // The help document of the running program: beside the executable (its
  // name with ".hlp"), else in the installed data directory.
  static QString DefaultPath();

 private:
  std::map<uint32_t, HelpTopic> topics_;
  QString path_;
};

// A topic as rich text for a popup or the help window.
QString TopicHtml(const HelpTopic& topic);

}  // namespace kvgui

#endif
