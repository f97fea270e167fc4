#pragma once

#include <QSyntaxHighlighter>
#include <QTextCharFormat>

#include <string>
#include <vector>

// Colours SQL as the lexer reads it (keywords, strings, quoted names, numbers, comments, the
// DELIMITER lines), line by line with what is open at a line's end carried to the next, so that
// colouring and splitting never disagree.
class TSqlHighlighter : public QSyntaxHighlighter
{
public:
    explicit TSqlHighlighter(QTextDocument *document);

    // The formats, for tests and for whoever shows a legend.
    QTextCharFormat Keyword, String, Identifier, Number, Comment, DelimiterLine;

    // A document of LazyFrom lines or more is coloured where it is shown: every line is read for
    // what it leaves open, but formats go only to the lines the editor shows (and a margin
    // around them), and to the others when they come into view. Opening a 20 MB script then
    // costs a reading of it, not a formatting of 400,000 lines.
    static constexpr int LazyFrom = 5000;
    void setShownLines(int first, int last);
    // Colours the shown lines that were read but not coloured.
    void colourShown();

protected:
    void highlightBlock(const QString &text) override;

private:
    // A block's state is the open construct and the delimiter in force, as a number.
    std::vector<std::string> m_delimiters{";"};
    int delimiterNumber(const std::string &delimiter);
    int m_firstShown = 0;
    int m_lastShown = 100;
    bool m_colouring = false;
};
