// What a piece of code writes to standard output and standard error: the
// parameter editor traces what it refuses there.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QTemporaryFile>

#include <cstdio>
#include <functional>
#include <unistd.h>

inline QByteArray capturedOutput(const std::function<void()>& run)
{
    QTemporaryFile capture;
    if (!capture.open())
        qFatal("no capture file");
    std::fflush(stdout);
    std::fflush(stderr);
    int out = ::dup(1), err = ::dup(2);
    ::dup2(capture.handle(), 1);
    ::dup2(capture.handle(), 2);
    run();
    std::fflush(stdout);
    std::fflush(stderr);
    ::dup2(out, 1);
    ::dup2(err, 2);
    ::close(out);
    ::close(err);
    QFile file(capture.fileName());
    file.open(QIODevice::ReadOnly);
    return file.readAll();
}
