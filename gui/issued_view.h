// The Qt view of the Issued Certificates dialog: the register's rows in a
// table whose headers sort it (the logic keeps the order), expired rows and
// rows expiring within 30 days coloured and named in the Status column, and
// the buttons of the register's actions.
#ifndef KVCATOOL_GUI_ISSUED_VIEW_H
#define KVCATOOL_GUI_ISSUED_VIEW_H

#include <QColor>
#include <map>

#include "app/issued_dialog.h"
#include "gui/views.h"

class QLabel;
class QPushButton;
class QTableWidget;

namespace kvgui {

// Background colours of the marked rows (revoked rows are greyed instead).
inline const QColor kExpiredRowColour(0xF4, 0xC2, 0xC2);
inline const QColor kExpiringRowColour(0xFF, 0xE4, 0x9C);
inline const QColor kRevokedTextColour(0x80, 0x80, 0x80);

class IssuedView : public ControlDialog {
  Q_OBJECT
 public:
  IssuedView(kvapp::IssuedDialog& logic, QtUserInterface& ui, QWidget* parent);
  ~IssuedView() override;
  // Shows the logic's controls: rows, sort indicator, selection, buttons.
  void Refresh();
  QTableWidget* table() const { return table_; }
  QLabel* summary() const { return summary_; }
  QPushButton* button(int id) const;
  void ContextHelp(int id) override;
  void ContextMenuHelp() override;

 private:
  void Press(int id);
  void ShowButtons();

  kvapp::IssuedDialog& logic_;
  QTableWidget* table_;
  QLabel* registerPath_;
  QLabel* summary_;
  std::map<int, QPushButton*> buttons_;
  bool refreshing_ = false;
};

}  // namespace kvgui

#endif
