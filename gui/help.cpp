#include "gui/help.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include "platform/help_file.h"

namespace kvgui {

bool HelpDocument::Load(const QString& path) {
  topics_.clear();
  path_ = path;
  QFile file(path);
  if (path.isEmpty() || !file.open(QIODevice::ReadOnly | QIODevice::Text)) return false;
  // A help document is a few kilobytes; anything far larger is not ours.
  constexpr qint64 kMaxHelpBytes = 1 << 20;
  if (file.size() > kMaxHelpBytes) return false;
  Parse(QString::fromUtf8(file.readAll()));
  return !topics_.empty();
}

void HelpDocument::Parse(const QString& text) {
  HelpTopic* current = nullptr;
  QStringList paragraphs;
  QString paragraph;
  auto endParagraph = [&] {
    if (!paragraph.isEmpty()) paragraphs << paragraph;
    paragraph.clear();
  };
  auto endTopic = [&] {
    endParagraph();
    if (current != nullptr) current->body = paragraphs.join(QStringLiteral("\n\n"));
    paragraphs.clear();
    current = nullptr;
  };
  for (const QString& rawLine : text.split(QLatin1Char('\n'))) {
    const QString line = rawLine.trimmed();
    if (line.startsWith(QLatin1Char('#'))) continue;
    if (line.startsWith(QLatin1Char('@'))) {
      endTopic();
      const qsizetype space = line.indexOf(QLatin1Char(' '));
      const QString number = line.mid(1, space < 0 ? -1 : space - 1);
      bool ok = false;
      const uint context = number.toUInt(&ok, 0);
      if (!ok) continue;
      HelpTopic& topic = topics_[context];
      topic.context = context;
      topic.title = space < 0 ? QString() : line.mid(space + 1).trimmed();
      current = &topic;
      continue;
    }
    if (current == nullptr) continue;
    if (line.isEmpty()) {
      endParagraph();
    } else {
      if (!paragraph.isEmpty()) paragraph += QLatin1Char(' ');
      paragraph += line;
    }
  }
  endTopic();
}

const HelpTopic* HelpDocument::Find(uint32_t context) const {
  auto it = topics_.find(context);
  return it == topics_.end() ? nullptr : &it->second;
}

QString HelpDocument::DefaultPath() {
  const QString beside = QString::fromStdString(kvplatform::HelpFilePath());
  if (!beside.isEmpty() && QFileInfo::exists(beside)) return beside;
  const QString installed = QDir(QCoreApplication::applicationDirPath())
                                .filePath(QStringLiteral(KVGUI_HELP_FROM_BIN "/kvcatool.hlp"));
  return QDir::cleanPath(installed);
}

QString TopicHtml(const HelpTopic& topic) {
  QString html = QStringLiteral("<b>") + topic.title.toHtmlEscaped() + QStringLiteral("</b>");
  for (const QString& paragraph : topic.body.split(QStringLiteral("\n\n"), Qt::SkipEmptyParts)) {
    html += QStringLiteral("<p>") + paragraph.toHtmlEscaped() + QStringLiteral("</p>");
  }
  return html;
}

}  // namespace kvgui
