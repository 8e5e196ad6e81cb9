// Caller errors stop the program with their texts, in every build type.
#include <mdd_comm.h>
#include <mxx_comm.h>

#include <QtTest>

#include <functional>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace detail {

int silentProbe(int, int)
{
    return 0;
}

// Runs `call` in a child process; returns what it wrote to stderr when it
// aborted, or "no abort".
QByteArray abortText(const std::function<void()>& call)
{
    int fds[2];
    if (pipe(fds) != 0)
        return "pipe failed";
    pid_t pid = fork();
    if (pid == 0) {
        dup2(fds[1], 2);
        close(fds[0]);
        call();
        _exit(0);
    }
    close(fds[1]);
    QByteArray text;
    char buf[256];
    ssize_t n;
    while ((n = read(fds[0], buf, sizeof buf)) > 0)
        text.append(buf, int(n));
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFSIGNALED(status) || WTERMSIG(status) != SIGABRT)
        return "no abort";
    return text.trimmed();
}

} // namespace detail

class TestMxxAsserts : public QObject
{
    Q_OBJECT

private slots:
    void rejectsOversizedCommands()
    {
        using detail::abortText;
        for (int size : {65534, 70000, -1}) {
            QCOMPARE(abortText([size] {
                         MXX_send_cmd(-1, 8007, nullptr, size, nullptr, 0, nullptr, nullptr,
                                      nullptr, 100, 0);
                     }),
                     QByteArray("Invalid data size for MXX frame!"));
        }
        // The largest payload is a valid call: without a connection it fails
        // with the transport's code instead of stopping.
        QCOMPARE(abortText([] {
                     static uint8_t payload[MXX_MAX_CMD_PAYLOAD];
                     MXX_send_cmd(-1, 8007, payload, MXX_MAX_CMD_PAYLOAD, nullptr, 0, nullptr,
                                  nullptr, nullptr, 100, 0);
                 }),
                 QByteArray("no abort"));
    }

    void rejectsTooManyProbes()
    {
        const MXX_probe_fn probes[7] = {
            detail::silentProbe, detail::silentProbe, detail::silentProbe, detail::silentProbe,
            detail::silentProbe, detail::silentProbe, detail::silentProbe};
        QCOMPARE(detail::abortText([&] { MDD_probe_list(-1, 0, probes, 7); }),
                 QByteArray("Not enough tries to probe all the protocols!"));
        QCOMPARE(detail::abortText([&] { MDD_probe_list(-1, 0, probes, 6); }),
                 QByteArray("no abort"));
    }
};

QTEST_GUILESS_MAIN(TestMxxAsserts)
#include "test_mxx_asserts.moc"
