#include "signin/passwordcommand.h"

#include <QCoreApplication>
#include <QPointer>
#include <QProcess>
#include <QTimer>

namespace signin::PasswordCommand {

namespace {

constexpr qint64 kMaxOutput = 64 * 1024; // a password or token is a line, not a file

QString Tr(const char* text) {
    return QCoreApplication::translate("PasswordCommand", text);
}

// The first lines of what the command said on stderr, for the failure text.
QString ErrorLines(QProcess& process) {
    const QString text = QString::fromLocal8Bit(process.readAllStandardError().left(2000)).trimmed();
    const QStringList lines = text.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    return lines.mid(0, 3).join(QLatin1Char(' ')).trimmed();
}

QString WithDetail(const QString& text, const QString& detail) {
    return detail.isEmpty() ? text : text + QStringLiteral(" ") + detail;
}

QString Finished(QProcess& process, int exitCode, QProcess::ExitStatus status, QString& secret) {
    const QString stderrText = ErrorLines(process);
    if (status != QProcess::NormalExit)
        return WithDetail(Tr("The password command ended abnormally."), stderrText);
    if (exitCode != 0)
        return WithDetail(Tr("The password command failed (exit code %1).").arg(exitCode), stderrText);
    const QByteArray out = process.readAllStandardOutput().left(kMaxOutput);
    QString first = QString::fromLocal8Bit(out.left(out.indexOf('\n') < 0 ? out.size() : out.indexOf('\n')));
    if (first.endsWith(QLatin1Char('\r')))
        first.chop(1);
    if (first.isEmpty())
        return WithDetail(Tr("The password command printed no password."), stderrText);
    secret = first;
    return {};
}

} // namespace

std::optional<QStringList> SplitCommand(const QString& command) {
    QStringList words;
    QString word;
    bool inWord = false;
    for (qsizetype i = 0; i < command.size(); ++i) {
        const QChar c = command.at(i);
        if (c == QLatin1Char('\'')) {
            const qsizetype end = command.indexOf(QLatin1Char('\''), i + 1);
            if (end < 0)
                return std::nullopt;
            word += command.mid(i + 1, end - i - 1);
            i = end;
            inWord = true;
        } else if (c == QLatin1Char('"')) {
            for (++i; i < command.size() && command.at(i) != QLatin1Char('"'); ++i) {
                if (command.at(i) == QLatin1Char('\\') && i + 1 < command.size() &&
                    QStringLiteral("\"\\$`").contains(command.at(i + 1)))
                    ++i;
                word += command.at(i);
            }
            if (i >= command.size())
                return std::nullopt;
            inWord = true;
        } else if (c == QLatin1Char('\\') && i + 1 < command.size()) {
            word += command.at(++i);
            inWord = true;
        } else if (c.isSpace()) {
            if (inWord)
                words.append(word);
            word.clear();
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord)
        words.append(word);
    return words;
}

void Run(const QString& command, int timeoutSeconds, QObject* context, Done done) {
    const std::optional<QStringList> split = SplitCommand(command);
    if (!split || split->isEmpty()) {
        const QString why = split ? Tr("No password command is set for this account.")
                                  : Tr("The password command has a quote that is not closed.");
        QTimer::singleShot(0, context, [done, why] { done({}, why); });
        return;
    }
    QStringList words = *split;
    auto* process = new QProcess(context);
    auto* timer = new QTimer(process);
    timer->setSingleShot(true);
    auto finish = std::make_shared<Done>(std::move(done));
    const auto end = [process, finish](const QString& secret, const QString& failure) {
        if (!*finish)
            return;
        Done call = std::move(*finish);
        *finish = nullptr;
        process->deleteLater();
        call(secret, failure);
    };
    QObject::connect(timer, &QTimer::timeout, process, [process, end, timeoutSeconds] {
        process->kill();
        end({},
            Tr("The password command did not finish within %1 seconds and was stopped.").arg(timeoutSeconds));
    });
    QObject::connect(
        process, &QProcess::errorOccurred, process, [process, end](QProcess::ProcessError error) {
            if (error == QProcess::FailedToStart)
                end({}, Tr("The password command could not be started: %1").arg(process->errorString()));
        });
    QObject::connect(process, &QProcess::finished, process,
                     [process, end](int exitCode, QProcess::ExitStatus status) {
                         QString secret;
                         const QString failure = Finished(*process, exitCode, status, secret);
                         end(secret, failure);
                     });
    // Nothing to read from us: a command that asks on stdin gets end of file at once.
    process->setStandardInputFile(QProcess::nullDevice());
    const QString program = words.takeFirst();
    timer->start(timeoutSeconds * 1000);
    process->start(program, words);
}

} // namespace signin::PasswordCommand
