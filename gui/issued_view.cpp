#include "gui/issued_view.h"

#include <QBrush>
#include <QFont>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTableWidget>
#include <QVBoxLayout>

#include "gui/qt_ui.h"

namespace kvgui {
namespace {

QString Text(const std::string& text) { return QString::fromStdString(text); }

}  // namespace

IssuedView::IssuedView(kvapp::IssuedDialog& logic, QtUserInterface& ui, QWidget* parent)
    : ControlDialog(ui, kvapp::kIssuedDialogTemplate, parent), logic_(logic) {
  setWindowTitle(Text(logic_.controls().caption));

  registerPath_ = new QLabel;
  registerPath_->setObjectName(QStringLiteral("registerPath"));
  registerPath_->setTextFormat(Qt::PlainText);
  registerPath_->setTextInteractionFlags(Qt::TextSelectableByMouse);

  table_ = new QTableWidget(0, kvapp::kIssuedColumnCount);
  SetControlId(table_, kvapp::kIdIssuedTable);
  QStringList headers;
  for (const std::string& header : logic_.controls().headers) headers << Text(header);
  table_->setHorizontalHeaderLabels(headers);
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setSelectionMode(QAbstractItemView::SingleSelection);
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->setWordWrap(false);
  table_->verticalHeader()->setVisible(false);
  // The logic sorts; the header only reports clicks and shows the order.
  table_->setSortingEnabled(false);
  QHeaderView* header = table_->horizontalHeader();
  header->setSectionsClickable(true);
  header->setSortIndicatorShown(true);
  header->setHighlightSections(false);
  header->setStretchLastSection(true);
  table_->setMinimumSize(820, 240);
  connect(header, &QHeaderView::sectionClicked, this, [this](int column) {
    if (refreshing_) return;
    logic_.OnHeaderClicked(column);
    Refresh();
  });
  connect(table_, &QTableWidget::itemSelectionChanged, this, [this] {
    if (refreshing_) return;
    const QList<QTableWidgetItem*> chosen = table_->selectedItems();
    logic_.OnRowChosen(chosen.isEmpty() ? -1 : chosen.first()->row());
    ShowButtons();
  });

  summary_ = new QLabel;
  SetControlId(summary_, kvapp::kIdIssuedSummary);
  summary_->setTextFormat(Qt::PlainText);
  summary_->setWordWrap(true);

  struct ButtonText {
    int id;
    const char* text;
  };
  const ButtonText table[] = {
      {kvapp::kIdIssuedRevoke, "Revoke..."},
      {kvapp::kIdIssuedMakeCrl, "Make CRL..."},
      {kvapp::kIdIssuedRecordExisting, "Record Existing..."},
      {kvapp::kIdIssuedRefresh, "Refresh"},
      {kvapp::kIdIssuedClose, "Close"},
  };
  auto* row = new QHBoxLayout;
  for (const ButtonText& entry : table) {
    auto* b = new QPushButton(QString::fromUtf8(entry.text));
    SetControlId(b, entry.id);
    b->setAutoDefault(false);
    buttons_[entry.id] = b;
    const int id = entry.id;
    connect(b, &QPushButton::clicked, this, [this, id] { Press(id); });
    if (entry.id == kvapp::kIdIssuedClose) row->addStretch(1);
    row->addWidget(b);
  }

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(registerPath_);
  layout->addWidget(table_, 1);
  layout->addWidget(summary_);
  layout->addLayout(row);
  resize(1180, 440);
  WatchControls();
  Refresh();
}

IssuedView::~IssuedView() = default;

QPushButton* IssuedView::button(int id) const {
  auto it = buttons_.find(id);
  return it == buttons_.end() ? nullptr : it->second;
}

void IssuedView::Press(int id) {
  logic_.OnCommand(id);
  if (logic_.closed()) {
    accept();
    return;
  }
  Refresh();
}

void IssuedView::ShowButtons() {
  for (auto& [id, b] : buttons_) b->setEnabled(logic_.IsEnabled(id));
}

void IssuedView::Refresh() {
  refreshing_ = true;
  const kvapp::IssuedDialog::Controls& c = logic_.controls();
  registerPath_->setText(c.registerPath.empty() ? QString() : QStringLiteral("Register: ") + Text(c.registerPath));
  summary_->setText(Text(c.summary));
  {
    QSignalBlocker block(table_);
    table_->clearContents();
    table_->setRowCount(static_cast<int>(c.rows.size()));
    for (size_t r = 0; r < c.rows.size(); ++r) {
      const kvapp::IssuedDialog::Row& row = c.rows[r];
      for (int col = 0; col < kvapp::kIssuedColumnCount && static_cast<size_t>(col) < row.cells.size(); ++col) {
        auto* item = new QTableWidgetItem(Text(row.cells[static_cast<size_t>(col)]));
        switch (row.state) {
          case kvapp::IssuedState::kExpired:
            item->setBackground(kExpiredRowColour);
            break;
          case kvapp::IssuedState::kExpiringSoon:
            item->setBackground(kExpiringRowColour);
            break;
          case kvapp::IssuedState::kRevoked: {
            item->setForeground(kRevokedTextColour);
            QFont font = item->font();
            font.setItalic(true);
            item->setFont(font);
            break;
          }
          case kvapp::IssuedState::kValid:
            break;
        }
        if (col == kvapp::kColumnStatus && row.state != kvapp::IssuedState::kValid) {
          QFont font = item->font();
          font.setBold(true);
          item->setFont(font);
        }
        table_->setItem(static_cast<int>(r), col, item);
      }
    }
    table_->horizontalHeader()->setSortIndicator(c.sortColumn, c.ascending ? Qt::AscendingOrder : Qt::DescendingOrder);
    table_->clearSelection();
    if (c.selection >= 0 && c.selection < table_->rowCount()) {
      table_->selectRow(c.selection);
      table_->scrollToItem(table_->item(c.selection, 0));
    }
    table_->resizeColumnsToContents();
  }
  ShowButtons();
  refreshing_ = false;
}

void IssuedView::ContextHelp(int id) { logic_.OnContextHelp(id); }

void IssuedView::ContextMenuHelp() { logic_.OnContextMenu(); }

}  // namespace kvgui
