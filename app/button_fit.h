// Lets the window's big buttons give up height on a small screen: icon and
// padding shrink with the button, the text keeps its size.
#pragma once

#include <QList>

class QPushButton;

// The buttons' icon size and style sheet padding as set now are the largest;
// they are scaled down whenever a button is shorter than they need.
void fitButtons(const QList<QPushButton*>& buttons);
