#include "gui_harness.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QPushButton>
#include <QSpinBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QTest>

namespace guitest {

int ScriptedRunner::Exec(QDialog& dialog) {
  dialog.show();
  if (!QTest::qWaitForWindowExposed(&dialog)) qWarning("window %s not exposed", qPrintable(dialog.objectName()));
  Shown s{dialog.objectName(), dialog.windowTitle(), QString(), QMessageBox::NoIcon};
  if (auto* box = qobject_cast<QMessageBox*>(&dialog)) {
    s.text = box->text();
    s.icon = box->icon();
  }
  shown.push_back(s);
  if (handlers.empty()) {
    ++unanswered;
    qWarning("unanswered dialog %s \"%s\" %s", qPrintable(s.name), qPrintable(s.title), qPrintable(s.text));
    dialog.reject();
    return dialog.result();
  }
  Handler handler = std::move(handlers.front());
  handlers.pop_front();
  handler(dialog);
  if (dialog.isVisible()) dialog.reject();
  return dialog.result();
}

QAction* ScriptedRunner::ExecMenu(QMenu& menu, const QPoint&) {
  if (menuHandlers.empty()) {
    ++unanswered;
    return nullptr;
  }
  MenuHandler handler = std::move(menuHandlers.front());
  menuHandlers.pop_front();
  QAction* chosen = handler(menu);
  if (chosen != nullptr && chosen->isEnabled()) {
    chosen->trigger();
    return chosen;
  }
  return nullptr;
}

std::vector<Shown> ScriptedRunner::Boxes() const {
  std::vector<Shown> boxes;
  for (const Shown& s : shown) {
    if (s.name == QLatin1String(kvgui::kErrorBoxName) || s.name == QLatin1String(kvgui::kMessageBoxName) ||
        s.name == QLatin1String(kvgui::kQuestionBoxName)) {
      boxes.push_back(s);
    }
  }
  return boxes;
}

Bench::Bench() {
  files.workingDirectory = dir.path().toStdString() + "/";
  settings = std::make_unique<kvplatform::FileSettingsStore>(dir.filePath(QStringLiteral("settings/kvcatool")).toStdString());
  ui = std::make_unique<kvgui::QtUserInterface>(runner, QStringLiteral(KVGUI_HELP_DOCUMENT));
  context = std::make_unique<kvapp::AppContext>(kvapp::AppContext{*ui, files, *settings});
  QDir::setCurrent(dir.path());
}

void Bench::WriteFile(const QString& name, const QByteArray& contents) const {
  QDir().mkpath(QFileInfo(Path(name)).path());
  QFile file(Path(name));
  if (file.open(QIODevice::WriteOnly)) file.write(contents);
}

namespace {
QtMessageHandler previousHandler = nullptr;
void FilterMessages(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  if (message.startsWith(QLatin1String("This plugin does not support"))) return;
  if (previousHandler != nullptr) previousHandler(type, context, message);
}
}  // namespace

void QuietOffscreenNotes() {
  QtMessageHandler previous = qInstallMessageHandler(FilterMessages);
  if (previous != FilterMessages) previousHandler = previous;
}

void Snap(QWidget& widget, const QString& name) {
  QDir().mkpath(QStringLiteral(KVGUI_SCREENSHOT_DIR));
  QCoreApplication::processEvents();
  const QString path = QStringLiteral(KVGUI_SCREENSHOT_DIR "/") + name + QStringLiteral(".png");
  if (!widget.grab().save(path)) qWarning("cannot write %s", qPrintable(path));
}

void ClickControl(QWidget& root, int id) {
  auto* button = qobject_cast<QAbstractButton*>(kvgui::FindControl(&root, id));
  if (button == nullptr) {
    qWarning("no button %d", id);
    return;
  }
  QTest::mouseClick(button, Qt::LeftButton);
}

void ClickBox(QDialog& dialog, QMessageBox::StandardButton button) {
  auto* box = qobject_cast<QMessageBox*>(&dialog);
  if (box == nullptr || box->button(button) == nullptr) {
    qWarning("%s is not a message box with that button", qPrintable(dialog.objectName()));
    return;
  }
  QTest::mouseClick(box->button(button), Qt::LeftButton);
}

ScriptedRunner::Handler Answer(QMessageBox::StandardButton button) {
  return [button](QDialog& dialog) { ClickBox(dialog, button); };
}

ScriptedRunner::Handler TypeRootPassword(const QString& password, bool cancel) {
  return [password, cancel](QDialog& dialog) {
    TypeInto(dialog, 1015, password);
    ClickControl(dialog, cancel ? kvgui::kIdCancel : kvgui::kIdOk);
  };
}

ScriptedRunner::Handler SaveAs(const QString& proposed, const QString& path) {
  return [=](QDialog& d) {
    auto* chooser = qobject_cast<QFileDialog*>(&d);
    QVERIFY(chooser != nullptr);
    QCOMPARE(chooser->objectName(), QLatin1String(kvgui::kSaveDialogName));
    QCOMPARE(chooser->acceptMode(), QFileDialog::AcceptSave);
    QCOMPARE(chooser->selectedFiles().value(0), proposed);
    auto* name = chooser->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    QVERIFY(name != nullptr);
    name->setText(QFileInfo(path).fileName());
    QMetaObject::invokeMethod(chooser, "accept");
  };
}

ScriptedRunner::Handler TypePassword(const QString& title, const QString& password, bool cancel,
                                     const QString& snapName) {
  return [=](QDialog& d) {
    QCOMPARE(d.objectName(), QStringLiteral("dialog142"));
    QCOMPARE(d.windowTitle(), title);
    TypeInto(d, kvapp::kIdPassword, password);
    if (kvgui::FindControl(&d, kvapp::kIdConfirmPassword) != nullptr) {
      TypeInto(d, kvapp::kIdConfirmPassword, password);
    }
    if (!snapName.isEmpty()) Snap(d, snapName);
    ClickControl(d, cancel ? kvgui::kIdCancel : kvgui::kIdOk);
  };
}

void TypeInto(QWidget& root, int id, const QString& text) {
  auto* edit = qobject_cast<QLineEdit*>(kvgui::FindControl(&root, id));
  if (edit == nullptr) {
    qWarning("no edit control %d", id);
    return;
  }
  edit->setFocus();
  QTest::keyClick(edit, Qt::Key_End);
  while (!edit->text().isEmpty()) QTest::keyClick(edit, Qt::Key_Backspace);
  QTest::keyClicks(edit, text);
}

bool ClickFile(QWidget& mainView, const QString& name) {
  auto* list = qobject_cast<QListWidget*>(kvgui::FindControl(&mainView, 1013));
  if (list == nullptr) return false;
  const QList<QListWidgetItem*> found = list->findItems(name, Qt::MatchExactly);
  if (found.isEmpty()) return false;
  list->scrollToItem(found.first());
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(found.first()).center());
  return true;
}

namespace {

void PressOk(QDialog& dialog) {
  auto* box = dialog.findChild<QDialogButtonBox*>();
  if (box == nullptr || box->button(QDialogButtonBox::Ok) == nullptr) {
    qWarning("%s has no OK button", qPrintable(dialog.objectName()));
    return;
  }
  QTest::mouseClick(box->button(QDialogButtonBox::Ok), Qt::LeftButton);
}

}  // namespace

ScriptedRunner::Handler ChooseListItem(const QString& item) {
  return [item](QDialog& dialog) {
    auto* combo = dialog.findChild<QComboBox*>();
    if (dialog.objectName() != QLatin1String(kvgui::kItemDialogName) || combo == nullptr) {
      qWarning("expected the item chooser, got %s", qPrintable(dialog.objectName()));
      return;
    }
    const int index = combo->findText(item);
    if (index < 0) {
      qWarning("the chooser offers no %s", qPrintable(item));
      return;
    }
    combo->setCurrentIndex(index);
    PressOk(dialog);
  };
}

ScriptedRunner::Handler EnterNumber(int value) {
  return [value](QDialog& dialog) {
    auto* spin = dialog.findChild<QSpinBox*>();
    if (dialog.objectName() != QLatin1String(kvgui::kNumberDialogName) || spin == nullptr) {
      qWarning("expected the number prompt, got %s", qPrintable(dialog.objectName()));
      return;
    }
    spin->setValue(value);
    PressOk(dialog);
  };
}

ScriptedRunner::Handler SaveAs(const QString& path) {
  return [path](QDialog& dialog) {
    auto* chooser = qobject_cast<QFileDialog*>(&dialog);
    if (dialog.objectName() != QLatin1String(kvgui::kSaveDialogName) || chooser == nullptr) {
      qWarning("expected the save chooser, got %s", qPrintable(dialog.objectName()));
      return;
    }
    // Typed into the name field, as a user does.
    auto* name = chooser->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    if (name == nullptr) {
      qWarning("the save chooser has no name field");
      return;
    }
    name->setText(path);
    QMetaObject::invokeMethod(chooser, "accept");
  };
}

ScriptedRunner::Handler PickDirectory(const QString& dir) {
  return [dir](QDialog& dialog) {
    auto* chooser = qobject_cast<QFileDialog*>(&dialog);
    if (dialog.objectName() != QLatin1String(kvgui::kDirectoryDialogName) || chooser == nullptr) {
      qWarning("expected the directory chooser, got %s", qPrintable(dialog.objectName()));
      return;
    }
    chooser->setDirectory(dir);
    QMetaObject::invokeMethod(chooser, "accept");
  };
}

}  // namespace guitest
