#pragma once

#include <QByteArray>
#include <QString>

// "Start when I log in": the program's entry in the desktop session's autostart
// folder ($XDG_CONFIG_HOME/autostart/tidemarsh.desktop). The entry itself is
// the setting: nothing about it is kept anywhere else.
class AutostartEntry {
public:
    // programPath: the absolute path of the program the entry starts.
    explicit AutostartEntry(const QString& programPath);

    // $XDG_CONFIG_HOME/autostart, or ~/.config/autostart when the variable is
    // unset or not an absolute path (the rule of the base-directory convention).
    static QString folder();
    static QString FileName();
    QString filePath() const;

    // The entry is there and names this program (the same file, whatever path leads to it).
    bool startsThisProgram() const;
    // ... and the desktop has not been told to skip it (Hidden, or a disabled flag).
    bool isOn() const;

    // Writes the entry in one step (a temporary file renamed over the old one).
    // The failure in words, or an empty text.
    QString switchOn() const;
    // Removes the entry when it starts this program; an entry of another copy of
    // the program is left alone. The failure in words, or an empty text.
    QString switchOff() const;

    // The entry's content: the program started in the tray (--hidden). Empty when
    // the path cannot be written into an entry.
    QByteArray text() const;

private:
    QString m_program;
};
