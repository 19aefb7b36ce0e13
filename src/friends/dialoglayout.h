#pragma once

#include <QDialog>
#include <QLayout>
#include <QPushButton>
#include <QSize>
#include <QtMath>

#include <algorithm>
#include <initializer_list>

// Sizing the Friends dialogs: a fixed border of the designed client size (in
// twips, 1/1440 inch), grown where the fonts need more; buttons of one size.
namespace dialoglayout {

inline void SameWidth(std::initializer_list<QPushButton*> buttons) {
    int width = 0;
    for (QPushButton* button : buttons)
        width = std::max(width, button->sizeHint().width());
    for (QPushButton* button : buttons)
        button->setFixedWidth(std::max(width, 80));
}

inline void FixSize(QDialog* dialog, QSize twips) {
    const QSize designed(qRound(twips.width() * dialog->logicalDpiX() / 1440.0),
                         qRound(twips.height() * dialog->logicalDpiY() / 1440.0));
    dialog->layout()->activate();
    dialog->setFixedSize(dialog->sizeHint().expandedTo(designed));
}

} // namespace dialoglayout
