// Desktop tests: the program's window on a real X server (Xvfb) with a window
// manager (twm) that frames it, as on a user's desktop. Everything else runs
// offscreen, where windows have no frame at all. Without Xvfb or twm on the
// machine, every test here is skipped; with them installed but unable to run,
// every test fails and says why.

#include <QApplication>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

bool g_desktopInstalled = false;
QString g_desktopProblem;

namespace {

// Starts a program with its output discarded; 0 when it cannot be started.
pid_t spawn(const QString &program, const QStringList &args)
{
    const pid_t pid = ::fork();
    if (pid != 0)
        return pid < 0 ? 0 : pid;
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, 1);
    ::dup2(null, 2);
    std::vector<QByteArray> storage{program.toLocal8Bit()};
    for (const auto &a : args)
        storage.push_back(a.toLocal8Bit());
    std::vector<char *> argv;
    for (auto &s : storage)
        argv.push_back(s.data());
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    ::_exit(127);
}

bool running(pid_t pid)
{
    return pid > 0 && ::waitpid(pid, nullptr, WNOHANG) == 0;
}

// twm's own settings name helvetica, which only the optional font packages
// have; without it twm exits at once. "fixed" is built into every X server.
constexpr char kTwmSettings[] = R"(NoGrabServer
DecorateTransients
TitleFont "fixed"
ResizeFont "fixed"
MenuFont "fixed"
IconFont "fixed"
IconManagerFont "fixed"
)";

// Xvfb on the first free display number, and twm on it. Started before the
// application object exists, since the application connects to it.
struct Desktop {
    pid_t server = 0;
    pid_t manager = 0;
    QTemporaryDir scratch;

    // False when Xvfb or twm is not installed; a start that fails with both
    // installed is a broken test machine and is reported in `problem`.
    bool start(QString &problem)
    {
        const QString xvfb = QStandardPaths::findExecutable("Xvfb");
        const QString twm = QStandardPaths::findExecutable("twm");
        if (xvfb.isEmpty() || twm.isEmpty())
            return false;
        const QString settings = scratch.filePath("twmrc");
        QFile file(settings);
        if (!scratch.isValid() || !file.open(QIODevice::WriteOnly) || file.write(kTwmSettings) < 0) {
            problem = "cannot write twm's settings in a temporary folder";
            return true;
        }
        file.close();
        for (int n = 77; n < 99; ++n) {
            const QString socket = QString("/tmp/.X11-unix/X%1").arg(n);
            if (QFile::exists(socket) || QFile::exists(QString("/tmp/.X%1-lock").arg(n)))
                continue;
            const QString display = QString(":%1").arg(n);
            server = spawn(xvfb, {display, "-screen", "0", "1024x768x24", "-nolisten", "tcp", "-fp", "built-ins"});
            for (int i = 0; i < 100 && running(server) && !QFile::exists(socket); ++i)
                QThread::msleep(50);
            if (!running(server)) {
                server = 0;
                continue;
            }
            qputenv("DISPLAY", display.toUtf8());
            manager = spawn(twm, {"-f", settings});
            QThread::msleep(500);
            if (!running(manager))
                problem = "twm exited at once";
            return true;
        }
        problem = "Xvfb did not start on any display from :77 to :98";
        return true;
    }

    ~Desktop()
    {
        // Terminated, not killed, so the server removes its lock and socket.
        for (const pid_t pid : {manager, server}) {
            if (pid > 0) {
                ::kill(pid, SIGTERM);
                ::waitpid(pid, nullptr, 0);
            }
        }
    }
};

} // namespace

int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    // Listing the tests needs no desktop.
    const bool listing = ::testing::GTEST_FLAG(list_tests);
    auto desktop = std::make_unique<Desktop>();
    g_desktopInstalled = !listing && desktop->start(g_desktopProblem);
    if (g_desktopInstalled && g_desktopProblem.isEmpty())
        qputenv("QT_QPA_PLATFORM", "xcb");
    else
        qputenv("QT_QPA_PLATFORM", "offscreen");
    int result = 0;
    {
        QApplication app(argc, argv);
        result = RUN_ALL_TESTS();
    }
    desktop.reset();
    return result;
}
