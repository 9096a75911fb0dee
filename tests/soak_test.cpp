// Nothing lost, nothing half: the real program, driven through its window by
// tests/window_driver.cpp on a random tree, killed with SIGKILL at random
// moments and restarted on the same file, again and again. After every kill
// the file passes SQLite's integrity check and the link checker, holds every
// action the program reported finished, and holds the action it was killed in
// either whole or not at all (window_driver.cpp says how that is proven).
//
// Each shard kills 25 times, so CI runs 100 kills. For a longer run:
//   BRANCHKEEPER_SOAK_KILLS=2000 soak_tests --gtest_filter='*/0'   (tools/soak.sh 2000)
// BRANCHKEEPER_SOAK_SEED fixes the seed; every shard prints its figures.

#include "commands/command_table.h"
#include "store/check.h"
#include "tests/support/test_store.h"
#include "tests/window_driver.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdio>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

using testing_support::Item;
using testing_support::TestStore;

namespace {

long environmentNumber(const char *name, long otherwise)
{
    const QByteArray value = qgetenv(name);
    return value.isEmpty() ? otherwise : value.toLong();
}

// A consistent tree of count items under the root: mostly bushy, now and then
// a chain, so that moves out and in find some depth; about half of them open,
// a few without text, one selected.
std::vector<Item> randomTree(std::mt19937_64 &rng, int count)
{
    std::vector<Item> items{{1, 0}};
    for (std::int32_t k = 2; k < count + 2; ++k) {
        const std::int32_t parent = rng() % 4 == 0 ? k - 1 : static_cast<std::int32_t>(1 + rng() % (k - 1));
        std::optional<std::string> text;
        if (rng() % 10 != 0)
            text = "item " + std::to_string(k);
        items.push_back({k, parent, rng() % 2 == 0, text});
    }
    items[1 + rng() % count].selected = true;
    return items;
}

std::vector<std::pair<std::string, std::string>> toolbarRows()
{
    std::vector<std::pair<std::string, std::string>> rows;
    for (const auto &command : modTree::Commands())
        rows.emplace_back(command.picture, command.about);
    return rows;
}

// What the file holds after a kill, read the way the next program to open it
// reads it: a read/write connection, which rolls back an unfinished
// transaction first.
struct FileState {
    std::string digest;
    std::string integrity; // "ok" when sound
    std::vector<std::string> linkProblems;
};

FileState readFile(const std::string &path)
{
    FileState state;
    sqlite3 *db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
        state.integrity = std::string("cannot open: ") + sqlite3_errmsg(db);
        sqlite3_close(db);
        return state;
    }
    std::string error;
    state.digest = window_driver::tableDigest(db, &error).value_or("unreadable: " + error);
    sqlite3_stmt *stmt = nullptr;
    if (sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &stmt, nullptr) == SQLITE_OK) {
        while (sqlite3_step(stmt) == SQLITE_ROW)
            state.integrity += reinterpret_cast<const char *>(sqlite3_column_text(stmt, 0));
    } else {
        state.integrity = sqlite3_errmsg(db);
    }
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    const auto links = store::checkLinks(path);
    state.linkProblems = links ? links->problems : std::vector<std::string>{"cannot check: " + store::lastError()};
    return state;
}

// One run of the driver, as its lines tell it.
struct Report {
    struct Step {
        long number = 0;
        std::string from;
        std::string what;
        std::optional<std::string> done;
    };
    std::optional<std::string> ready;
    std::vector<Step> steps;
    std::vector<std::string> problems; // lines out of order
};

Report parse(const QList<QByteArray> &lines)
{
    Report report;
    std::optional<std::string> last; // the digest last reported
    for (const QByteArray &raw : lines) {
        const std::string line = raw.trimmed().toStdString();
        if (line.empty())
            continue;
        const QList<QByteArray> words = raw.trimmed().split(' ');
        const std::string verb = words[0].toStdString();
        if (verb == "ready" && words.size() == 2) {
            report.ready = last = words[1].toStdString();
        } else if (verb == "begin" && words.size() >= 3) {
            // "begin S D WHAT": WHAT is the rest of the line, spaces and all.
            std::size_t at = 0;
            for (int i = 0; i < 3 && at != std::string::npos; ++i)
                at = line.find(' ', at + 1);
            Report::Step step{words[1].toLong(), words[2].toStdString(),
                              at == std::string::npos ? std::string() : line.substr(at + 1), {}};
            if (last && step.from != *last)
                report.problems.push_back("written between two actions, before: " + line);
            report.steps.push_back(step);
        } else if (verb == "done" && words.size() == 3 && !report.steps.empty()
                   && report.steps.back().number == words[1].toLong() && !report.steps.back().done) {
            report.steps.back().done = last = words[2].toStdString();
        } else if (verb != "pause") {
            report.problems.push_back("unexpected line: " + line);
        }
    }
    return report;
}

struct Figures {
    long kills = 0;
    long finished = 0;             // actions reported done
    long lost = 0;                 // finished actions the file did not hold
    long half = 0;                 // files holding part of an action
    long beforeReady = 0;          // kills during start-up
    long inAction = 0;             // kills between an action's begin and done
    long inWrite = 0;              // kills that left a journal: inside a write transaction
    long committedUnreported = 0;  // in the file, not yet reported: replay confirmed it whole
    long timerKills = 0, timerInAction = 0, timerInWrite = 0; // the same for kills at random moments
};

enum class KillStyle { StartUp, Timer, PauseWrite, PauseCommit, PauseDone };

class Soak {
public:
    explicit Soak(std::uint64_t seed) : m_seed(seed), m_rng(seed) {}

    void run(long kills)
    {
        ASSERT_TRUE(m_work.isValid());
        for (long k = 0; k < kills && !::testing::Test::HasFailure(); ++k) {
            // A new tree now and then keeps a long run from growing the table without end.
            if (k % 250 == 0)
                newStore();
            killOnce();
        }
    }

    const Figures &figures() const { return m_figures; }

private:
    void newStore()
    {
        m_store = std::make_unique<TestStore>();
        m_store->create(randomTree(m_rng, 40 + static_cast<int>(m_rng() % 80)), toolbarRows());
        const FileState state = readFile(m_store->path());
        m_expected = state.digest;
        m_step = 1;
    }

    // Starts the driver on the store, kills it, and checks what the file holds.
    void killOnce()
    {
        const QString file = QString::fromStdString(m_store->path());
        const QString runStart = m_work.filePath("run-start.mdb");
        QFile::remove(runStart);
        ASSERT_TRUE(QFile::copy(file, runStart));

        static constexpr KillStyle kStyles[] = {KillStyle::StartUp,    KillStyle::Timer,       KillStyle::Timer,
                                                KillStyle::Timer,      KillStyle::Timer,       KillStyle::PauseWrite,
                                                KillStyle::PauseWrite, KillStyle::PauseCommit, KillStyle::PauseDone,
                                                KillStyle::PauseDone};
        const KillStyle style = kStyles[m_rng() % std::size(kStyles)];
        QStringList arguments{"soak", m_store->qDirectory(), QString::number(m_seed), QString::number(m_step)};
        if (style == KillStyle::PauseWrite)
            arguments << "--pause" << "write" << QString::number(1 + m_rng() % 40);
        else if (style == KillStyle::PauseCommit)
            arguments << "--pause" << "commit" << QString::number(1 + m_rng() % 8);
        else if (style == KillStyle::PauseDone)
            arguments << "--pause" << "done" << QString::number(1 + m_rng() % 8);

        QProcess child;
        QElapsedTimer started;
        started.start();
        child.start(BRANCHKEEPER_WINDOW_DRIVER, arguments);
        ASSERT_TRUE(child.waitForStarted(20000));
        QList<QByteArray> lines;
        // Reads lines until one starts with prefix; false when the driver ended or took too long.
        auto waitFor = [&](const QByteArray &prefix) {
            while (child.state() == QProcess::Running && started.elapsed() < 120000) {
                while (child.canReadLine()) {
                    lines.append(child.readLine());
                    if (lines.back().startsWith(prefix))
                        return true;
                }
                child.waitForReadyRead(100);
            }
            return false;
        };
        bool ok = true;
        if (style == KillStyle::StartUp) {
            QThread::msleep(static_cast<unsigned long>(m_rng() % (2 * m_meanStartUpMs + 1)));
        } else if (style == KillStyle::Timer) {
            ok = waitFor("ready");
            m_meanStartUpMs = (7 * m_meanStartUpMs + started.elapsed()) / 8;
            QThread::msleep(static_cast<unsigned long>(m_rng() % 31));
        } else {
            ok = waitFor("pause");
        }
        child.kill();
        child.waitForFinished(20000);
        lines += child.readAllStandardOutput().split('\n');
        const std::string errors = child.readAllStandardError().toStdString();
        ASSERT_TRUE(ok && child.exitStatus() == QProcess::CrashExit)
            << "the driver ended before it was killed (" << child.exitCode() << "):\n" << errors;
        for (const char *bad : {"branchkeeper:", "AddressSanitizer", "runtime error"}) {
            ASSERT_EQ(errors.find(bad), std::string::npos) << errors;
        }

        ++m_figures.kills;
        const bool journal = QFileInfo(file + "-journal").size() > 0;
        const Report report = parse(lines);
        ASSERT_TRUE(report.problems.empty()) << report.problems.front();
        check(report, journal, style, runStart);
    }

    void check(const Report &report, bool journal, KillStyle style, const QString &runStart)
    {
        if (report.ready) {
            ASSERT_EQ(*report.ready, m_expected) << "the program opened another table than the one it was left";
        } else {
            ++m_figures.beforeReady;
        }
        std::string lastDone = m_expected;
        for (const auto &step : report.steps) {
            if (step.done) {
                lastDone = *step.done;
                ++m_figures.finished;
            }
        }
        const bool interrupted = !report.steps.empty() && !report.steps.back().done;
        m_figures.inAction += interrupted;
        m_figures.inWrite += journal;
        if (style == KillStyle::Timer) {
            ++m_figures.timerKills;
            m_figures.timerInAction += interrupted;
            m_figures.timerInWrite += journal;
        }

        const FileState state = readFile(m_store->path());
        ASSERT_EQ(state.integrity, "ok");
        ASSERT_TRUE(state.linkProblems.empty()) << state.linkProblems.front();
        if (state.digest != lastDone) {
            const std::string where = interrupted ? "killed in " + report.steps.back().what : "killed between actions";
            if (!interrupted) {
                ++m_figures.lost;
                FAIL() << "the file lost finished actions or was written outside them (" << where << ")";
            }
            const auto whole = replay(report, runStart);
            if (!whole || *whole != state.digest) {
                ++m_figures.half;
                FAIL() << "the file holds part of an action (" << where << ", step " << report.steps.back().number
                       << ")";
            }
            ++m_figures.committedUnreported;
        }
        m_expected = state.digest;
        if (!report.steps.empty())
            m_step = report.steps.back().number + 1;
    }

    // The interrupted run again, on the file as it started, up to the action
    // it was killed in: that action's done digest, whole. The steps it had
    // finished must come out the same, or the replay proves nothing.
    std::optional<std::string> replay(const Report &report, const QString &runStart)
    {
        QTemporaryDir dir;
        if (!QFile::copy(runStart, dir.filePath("dbPro.mdb")))
            return std::nullopt;
        QProcess child;
        const long first = report.steps.front().number;
        const long last = report.steps.back().number;
        child.start(BRANCHKEEPER_WINDOW_DRIVER, {"soak", dir.path(), QString::number(m_seed), QString::number(first),
                                                 "--until", QString::number(last)});
        if (!child.waitForFinished(120000) || child.exitCode() != 0) {
            ADD_FAILURE() << "the replay failed: " << child.readAllStandardError().toStdString();
            return std::nullopt;
        }
        const Report again = parse(child.readAllStandardOutput().split('\n'));
        if (again.steps.size() != report.steps.size()) {
            ADD_FAILURE() << "the replay ran " << again.steps.size() << " actions, not " << report.steps.size();
            return std::nullopt;
        }
        for (std::size_t i = 0; i + 1 < report.steps.size(); ++i) {
            const auto &a = report.steps[i];
            const auto &b = again.steps[i];
            if (a.what != b.what || a.from != b.from || a.done != b.done) {
                ADD_FAILURE() << "the replay went another way at step " << a.number << ": " << a.what << " / "
                              << b.what;
                return std::nullopt;
            }
        }
        return again.steps.back().done;
    }

    std::uint64_t m_seed;
    std::mt19937_64 m_rng;
    QTemporaryDir m_work;
    std::unique_ptr<TestStore> m_store;
    std::string m_expected; // the table the file held when the driver was last started
    long m_step = 1;        // the next action's number
    long m_meanStartUpMs = 100;
    Figures m_figures;
};

class KillSoak : public ::testing::TestWithParam<int> {};

TEST_P(KillSoak, EveryFinishedActionIsInTheFileAndNoneIsHalf)
{
    const std::uint64_t seed =
        static_cast<std::uint64_t>(environmentNumber("BRANCHKEEPER_SOAK_SEED", static_cast<long>(std::random_device{}() >> 1)))
        + static_cast<std::uint64_t>(GetParam());
    const long kills = environmentNumber("BRANCHKEEPER_SOAK_KILLS", 25);
    SCOPED_TRACE("seed " + std::to_string(seed));
    QElapsedTimer timer;
    timer.start();
    Soak soak(seed);
    soak.run(kills);
    const Figures &f = soak.figures();
    auto percent = [](long part, long whole) { return whole ? 100.0 * static_cast<double>(part) / whole : 0.0; };
    std::printf("soak seed %llu: %ld kills in %.1f s; %ld actions finished, %ld lost, %ld half; "
                "kills in start-up %ld; inside an action %ld (%.0f%%), inside a write transaction %ld (%.0f%%), "
                "after a commit but before its report %ld; at random moments %ld kills, %.0f%% inside an action, "
                "%.0f%% inside a write transaction\n",
                static_cast<unsigned long long>(seed), f.kills, static_cast<double>(timer.elapsed()) / 1000, f.finished,
                f.lost, f.half, f.beforeReady, f.inAction, percent(f.inAction, f.kills), f.inWrite,
                percent(f.inWrite, f.kills), f.committedUnreported, f.timerKills,
                percent(f.timerInAction, f.timerKills), percent(f.timerInWrite, f.timerKills));
    std::fflush(stdout);
    EXPECT_EQ(f.kills, kills);
    EXPECT_GT(f.finished, 0);
    EXPECT_EQ(f.lost, 0);
    EXPECT_EQ(f.half, 0);
}

INSTANTIATE_TEST_SUITE_P(Soak, KillSoak, ::testing::Range(0, 4));

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
