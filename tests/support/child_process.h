// A program run in a child process as a user runs it: started in a working directory, its
// stderr (and stdout) collected, waited for with a bound, its exit status taken, signalled
// like a Ctrl-C. One copy for every test that starts the built program.
//
//   testing_support::ChildProcess child(dir.path());
//   ASSERT_TRUE(child.start(QStringLiteral(VANTREL_BINARY), {"--simulate", "--capture=x.wav"}));
//   const int status = child.finish();     // -1 when it did not exit normally
//   std::string errors = child.takeStderr();
#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <csignal>
#include <gtest/gtest.h>
#include <string>
#include <sys/types.h>
#include <utility>

namespace testing_support {

// Long enough for a capture or an archive of a short tape in a sanitizer build.
inline constexpr int kChildTimeoutMs = 120000;

class ChildProcess {
public:
    explicit ChildProcess(const QString& workingDirectory = {})
    {
        if (!workingDirectory.isEmpty())
            process_.setWorkingDirectory(workingDirectory);
        // Lines on stderr are what a test waits for while the program runs.
        process_.setReadChannel(QProcess::StandardError);
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    void setWorkingDirectory(const QString& dir) { process_.setWorkingDirectory(dir); }

    // Starts `program`; false, with a test failure, when it could not be started.
    bool start(const QString& program, const QStringList& args)
    {
        stderr_.clear();
        stdout_.clear();
        process_.start(program, args);
        const bool started = process_.waitForStarted();
        EXPECT_TRUE(started) << program.toStdString() << " did not start: " << process_.errorString().toStdString();
        return started;
    }

    // Waits up to `timeoutMs` for the program to end and collects what it wrote. Its exit
    // status; -1 when it was killed by a signal, crashed or is still running (a test failure).
    int finish(int timeoutMs = kChildTimeoutMs)
    {
        const bool ended = process_.state() == QProcess::NotRunning || process_.waitForFinished(timeoutMs);
        EXPECT_TRUE(ended) << "the program did not end within " << timeoutMs << " ms";
        collect();
        if (!ended) {
            process_.kill();
            process_.waitForFinished();
            return -1;
        }
        return process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
    }

    // start() and finish() in one.
    int run(const QString& program, const QStringList& args, int timeoutMs = kChildTimeoutMs)
    {
        return start(program, args) ? finish(timeoutMs) : -1;
    }

    // Waits up to `timeoutMs` for more output on stderr; false when none came.
    bool waitForStderr(int timeoutMs)
    {
        const bool more = process_.waitForReadyRead(timeoutMs);
        collect();
        return more;
    }

    // What the program wrote since the last take (all of it after finish()).
    std::string takeStderr() { return std::exchange(stderr_, {}); }
    std::string takeStdout() { return std::exchange(stdout_, {}); }

    bool running() const { return process_.state() != QProcess::NotRunning; }
    // Sends `signo` (SIGINT for a Ctrl-C, SIGTERM) to the running program.
    void signal(int signo) { ::kill(static_cast<pid_t>(process_.processId()), signo); }
    // For connecting to its signals (finished) in an event loop of the test's own.
    QProcess& process() { return process_; }

private:
    void collect()
    {
        stderr_ += QString::fromLocal8Bit(process_.readAllStandardError()).toStdString();
        stdout_ += QString::fromLocal8Bit(process_.readAllStandardOutput()).toStdString();
    }

    QProcess process_;
    std::string stderr_;
    std::string stdout_;
};

}  // namespace testing_support
