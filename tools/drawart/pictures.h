#pragma once
// Every picture the program shows, each drawn by the file named after it.
#include "instrument/keymap.h"

#include <QImage>
#include <QString>

#include <vector>

namespace art {

// strip.cpp: the numbered-notation digits under the white keys.
QImage drawStrip(int scale);
// dragicon.cpp: the pointer shown while the mouse plays the keys.
QImage dragIcon16();
QImage dragIcon(int size);
// skin.cpp: the window's background.
QImage drawSkin();
// controls.cpp: the slider knob and the command buttons' faces.
QImage drawKnob();
enum class Face { Normal, Pressed, Lit, Unused };
QImage drawFace(Face face);
// icon.cpp: the window's and the desktop's icon, at any size.
QImage drawIcon(int size);
// keymap.cpp: the computer keyboard's keys and the notes they play, for the README.
QImage drawKeymap(keymap::Layout layout);
// The same icon as SVG, where this build of drawart has Qt's SVG module.
bool saveScalableIcon(const QString& path);

// The white keys of the on-screen keyboard, from the keyboard's own layout
// (the strip puts a digit under each, the icon draws them).
struct WhiteKey {
    int index;
    int leftTwips;
    int widthTwips;
};
std::vector<WhiteKey> whiteKeys();

}  // namespace art
