#pragma once

#include <QElapsedTimer>
#include <QString>

// One line (or several) of text on stdout, or on stderr, with a line break added.
void printOut(const QString& text);
void printError(const QString& text);

// Progress of work over many files, drawn in place on stderr when it is a terminal (and at most
// ten times a second), and nothing otherwise, so that logs and pipes stay clean. The line is
// cleared when the owner ends.
class Progress {
public:
    Progress(const QString& what, qsizetype files);
    ~Progress();
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    // One more file done, of `bytes` bytes.
    void advance(qint64 bytes);

private:
    const QString what_;
    const qsizetype files_;
    const bool drawn_;
    qsizetype done_ = 0;
    qint64 bytes_ = 0;
    QElapsedTimer sinceDrawn_;
};
