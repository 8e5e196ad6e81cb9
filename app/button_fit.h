// Lets the window's big buttons give up height on a small screen: icon and
// padding shrink with the button first, then the text, down to a size that
// stays readable.
#pragma once

#include <QList>

class QPushButton;

// The buttons' icon size, style sheet padding and font as set now are the
// largest; they are scaled down whenever a button is shorter than they need.
void fitButtons(const QList<QPushButton*>& buttons);
