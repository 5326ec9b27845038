#pragma once

#include <QObject>

// Child mode of the test program: saves "new" to the path that follows, for atomicSaveIsDurable.
constexpr char kSaveChild[] = "--save-child";

class TestFileUtil : public QObject {
    Q_OBJECT

private slots:
    void safeRelativePath_data();
    void safeRelativePath();

    void windowsLongPath_data();
    void windowsLongPath();
    void nativePathRefusesNul();
    void errorTexts();

    void hashMatchesReference_data();
    void hashMatchesReference();
    void hashLongPath();
    void hashFailureNamesFileAndError_data();
    void hashFailureNamesFileAndError();

    void symbolicLinkAlong_data();
    void symbolicLinkAlong();

    void atomicSave_data();
    void atomicSave();
    void atomicSaveIsDurable();
};
