#include "console/find_bar.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>
#include <QWebEngineFindTextResult>
#include <QWebEnginePage>

namespace {

QToolButton* MakeButton(QWidget* parent, const QString& text, const QString& tip) {
  auto* button = new QToolButton(parent);
  button->setText(text);
  button->setToolTip(tip);
  button->setAutoRaise(true);
  button->setCursor(Qt::PointingHandCursor);
  button->setFixedSize(24, 24);
  return button;
}

}  // namespace

CFindBar::CFindBar(QWebEnginePage* page, QWidget* parent) : QFrame(parent), page_(page) {
  setObjectName(QStringLiteral("findBar"));
  setFrameShape(QFrame::StyledPanel);
  setAutoFillBackground(true);
  setStyleSheet(
      QStringLiteral("#findBar { background: #f4f7fb; border: 1px solid #9fb3c8; border-radius: 4px; }"
                     "QLineEdit { border: 1px solid #9fb3c8; border-radius: 3px; padding: 2px 4px;"
                     " background: white; color: #1c3553; }"
                     "QLabel { color: #505050; }"
                     "QToolButton { color: #1c3553; font-weight: bold; }"));

  field_ = new QLineEdit(this);
  field_->setPlaceholderText(QStringLiteral("Find in report"));
  field_->setClearButtonEnabled(true);
  count_ = new QLabel(this);
  count_->setMinimumWidth(72);
  previous_ = MakeButton(this, QStringLiteral("\u25B2"), QStringLiteral("Previous match (Shift+Enter)"));
  next_ = MakeButton(this, QStringLiteral("\u25BC"), QStringLiteral("Next match (Enter)"));
  close_ = MakeButton(this, QStringLiteral("\u2715"), QStringLiteral("Close (Esc)"));

  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(6, 3, 4, 3);
  row->setSpacing(3);
  row->addWidget(field_, 1);
  row->addWidget(count_);
  row->addWidget(previous_);
  row->addWidget(next_);
  row->addWidget(close_);

  connect(field_, &QLineEdit::textChanged, this, [this] { Search(false); });
  connect(previous_, &QToolButton::clicked, this, &CFindBar::FindPrevious);
  connect(next_, &QToolButton::clicked, this, &CFindBar::FindNext);
  connect(close_, &QToolButton::clicked, this, &CFindBar::Close);
  connect(page_, &QWebEnginePage::findTextFinished, this, &CFindBar::ShowResult);
  hide();
}

CFindBar::~CFindBar() = default;

void CFindBar::Open() {
  show();
  raise();
  field_->setFocus(Qt::ShortcutFocusReason);
  field_->selectAll();
  // A word kept from the last time is searched again on the page as it is.
  if (!field_->text().isEmpty()) Search(false);
}

void CFindBar::Close() {
  hide();
  page_->findText(QString());
  matches_ = 0;
  active_ = 0;
  count_->clear();
}

void CFindBar::FindNext() { Search(false); }

void CFindBar::FindPrevious() { Search(true); }

void CFindBar::Search(bool backward) {
  const QString word = field_->text();
  if (word.isEmpty()) {
    page_->findText(QString());
    matches_ = 0;
    active_ = 0;
    count_->clear();
    emit SearchFinished();
    return;
  }
  page_->findText(word, backward ? QWebEnginePage::FindBackward : QWebEnginePage::FindFlags());
}

void CFindBar::ShowResult(const QWebEngineFindTextResult& result) {
  // The highlights were cleared: nothing to count.
  if (!isVisible() || field_->text().isEmpty()) return;
  matches_ = result.numberOfMatches();
  active_ = result.activeMatch();
  count_->setText(matches_ == 0 ? QStringLiteral("No matches")
                                : QStringLiteral("%1 of %2").arg(active_).arg(matches_));
  emit SearchFinished();
}

QString CFindBar::CountText() const { return count_->text(); }

void CFindBar::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Escape:
      Close();
      event->accept();
      return;
    // The field leaves Enter to its parent.
    case Qt::Key_Return:
    case Qt::Key_Enter:
      if (event->modifiers() & Qt::ShiftModifier)
        FindPrevious();
      else
        FindNext();
      event->accept();
      return;
    default: QFrame::keyPressEvent(event);
  }
}
