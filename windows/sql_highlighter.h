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

protected:
    void highlightBlock(const QString &text) override;

private:
    // A block's state is the open construct and the delimiter in force, as a number.
    std::vector<std::string> m_delimiters{";"};
    int delimiterNumber(const std::string &delimiter);
};
