// The rules of both jobs as rows of one table each, run in process (tst_repair, tst_update) and
// as a whole process (tst_jobs_process, on Linux and against the Windows build under Wine).
#pragma once

#include <QList>
#include <QString>
#include <QtTest>
#include <functional>

#include "repair_scenario.h"
#include "update_scenario.h"

namespace testsupport {

// Whether these tests are a Windows build (run under Wine here).
#ifdef Q_OS_WIN
constexpr bool kWindowsBuild = true;
#else
constexpr bool kWindowsBuild = false;
#endif

// Where a row runs, as flags: not on Windows nor under Wine, where links cannot be made and
// letter cases are not told apart; only on Windows or under Wine; only in process, where the
// whole program never gets that far (it ends at its own pre-read of the plan) or holds its
// directories open and so reads other messages; only as a whole process, where the rule is the
// program's start of the launcher, which a test stands in for in process.
enum Where { Anywhere = 0, Posix = 1, Windows = 2, InProcess = 4, WholeProcess = 8 };

struct RepairRow {
    const char* name;
    const char* plan;      // merged into the scenario's plan; @DIR@: the scratch directory
    const char* manifest;  // merged into the signed manifest
    const char* setup;     // steps of prepareRepair()
    int code;
    const char* message;
    int where = Anywhere;
};
const QList<RepairRow>& repairRows();
// The `setup` steps of a row, "verb:argument" separated by '|', done after the documents are
// written. "relative" runs the repair from the scratch directory with a relative plan path.
bool prepareRepair(RepairScenario& s, const QString& setup);
// Checks what a run of `r` left: its code and message, the installation repaired or as it was,
// the journal there only when the row planted one and the staging was not to blame, and nothing
// outside changed. QtTest checks: the caller returns when the test failed.
void checkRepairRun(const RepairRow& r, const RepairScenario& s, const FileTree& outside, int code,
                    const QString& message);

struct UpdateRow {
    const char* name;
    bool delta;
    const char* setup;  // steps of prepareUpdate()
    const char* message;
    // How the new launcher answers (test_launcher's modes); in process, only "exit" acknowledges.
    const char* launcher = "exit";
    // How many paths the journal left behind lists (-1: no work directory at all; -2: any).
    int journaled = -1;
    int where = Anywhere;
};
const QList<UpdateRow>& updateRows();

// What a row changes in the request, besides the files.
struct RowRequest {
    QString stagedRoot;
    QString deltaPlan;
    bool elevated = false;
};
// The setup steps of an update row, "verb:argument" separated by '|'. A step that begins with
// "sized " runs when the first file size is taken (while the package is checked), one that
// begins with "late " once the checks have passed, just before the first original moves; only
// in process. `phase` says which.
bool prepareUpdate(const UpdateScenario& s, RowRequest& request, const QString& setup,
                   const QString& phase = QString());
// Whether a row of `where` runs in process or as a whole process, on Windows (or under Wine) or
// not.
inline bool rowRuns(int where, bool wholeProcess, bool windows) {
    return !((where & Posix) && windows) && !((where & Windows) && !windows) &&
           !((where & InProcess) && wholeProcess) && !((where & WholeProcess) && !wholeProcess);
}

// Adds the column "row" and, by its index, each of `rows` that runs here and `also` takes.
template <typename Row>
void addRows(const QList<Row>& rows, bool wholeProcess, bool windows,
             const std::function<bool(const Row&)>& also = nullptr) {
    QTest::addColumn<int>("row");
    for (int i = 0; i < rows.size(); ++i) {
        if (rowRuns(rows[i].where, wholeProcess, windows) && (!also || also(rows[i]))) {
            QTest::newRow(rows[i].name) << i;
        }
    }
}

// Checks what a run of `r` left: the message, the new installation or the one `before`, with
// what a late step changed behind the update's back; a journal as `journaled` says; nothing
// outside changed. QtTest checks: the caller returns when the test failed.
void checkUpdateRun(const UpdateRow& r, const UpdateScenario& s, const FileTree& before,
                    const FileTree& outside, const QString& message);

// The root and acknowledgement names a row's "names:ROOT=ACK" step asks for.
std::pair<QString, QString> scenarioNames(const QString& setup);

}  // namespace testsupport
