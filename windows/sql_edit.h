#pragma once

#include <QPlainTextEdit>
#include <QString>

#include <vector>

class TSqlHighlighter;

// The SQL editor's text: monospace, line numbers in a margin, coloured by TSqlHighlighter, and
// the statements to run read with the same lexer (sqllex).
class TSqlEdit : public QPlainTextEdit
{
public:
    explicit TSqlEdit(QWidget *parent = nullptr);

    // One statement to send: its text as written and the editor line it starts on (from 1).
    struct Piece
    {
        QString Text;
        int FirstLine = 0;
    };
    // Ctrl+Enter: the statement at the cursor (see sqllex::statementAt), or every statement the
    // selection touches; empty when there is none.
    std::vector<Piece> StatementsToRun() const;
    // Run all: every statement of the text.
    std::vector<Piece> AllStatements() const;
    // Its two halves: the text (on the window thread), then its statements (any thread).
    QByteArray Utf8Text() const;
    static std::vector<Piece> StatementsOf(const QByteArray &utf8);

    int LineNumberWidth() const;
    TSqlHighlighter *Highlighter() const { return m_highlighter; }

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    friend class TSqlLineNumbers;
    void paintLineNumbers(QPaintEvent *event);
    void updateMargin();
    QWidget *m_numbers = nullptr;
    TSqlHighlighter *m_highlighter = nullptr;
};
