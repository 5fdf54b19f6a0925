#pragma once

#include <QFrame>
#include <QString>

class QLabel;
class QLineEdit;
class QToolButton;
class QWebEnginePage;
class QWebEngineFindTextResult;

// The find-in-page bar laid over the report: a word, previous and next,
// and how many times the page holds it. Typing searches at once; Enter
// finds the next match, Shift+Enter the previous one, Escape closes the bar
// and clears the highlights.
class CFindBar : public QFrame {
  Q_OBJECT

 public:
  CFindBar(QWebEnginePage* page, QWidget* parent);
  ~CFindBar() override;

  // Shows the bar with the word selected, ready for typing.
  void Open();
  // Hides the bar and clears the highlights.
  void Close();

  void FindNext();
  void FindPrevious();

  QLineEdit* Field() const { return field_; }
  QToolButton* PreviousButton() const { return previous_; }
  QToolButton* NextButton() const { return next_; }
  // "3 of 12", "No matches", or empty before a search.
  QString CountText() const;
  int Matches() const { return matches_; }
  int ActiveMatch() const { return active_; }

 signals:
  // A search ended; Matches() and ActiveMatch() tell its result.
  void SearchFinished();

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void Search(bool backward);
  void ShowResult(const QWebEngineFindTextResult& result);

  QWebEnginePage* page_;
  QLineEdit* field_ = nullptr;
  QToolButton* previous_ = nullptr;
  QToolButton* next_ = nullptr;
  QToolButton* close_ = nullptr;
  QLabel* count_ = nullptr;
  int matches_ = 0;
  int active_ = 0;
};
