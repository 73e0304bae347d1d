// drawart: draws every picture of the program and writes it into the assets
// folder given on the command line (default: ./assets), and the pictures of
// the README into the docs folder given after it (default: ./docs).
//
//   instrument/strip.png, strip@2x.png      numbered-notation digits under the white keys
//   instrument/dragicon.png, dragicon16.png pointer shown while the mouse plays the keys
//                                           (and @2x of both)
//   window/skin.jpg                         the window's background
//   window/knob.png                         the two slider knobs
//   window/face_*.png                       the command button faces
//   window/icon16.png, icon32.png, icon48.png
//   desktop/icon-*.png, icon.svg            the icon for the desktop's menus, 16 to 256 pixels
//                                           and scalable
//   docs/keymap.png, keymap-piano.png       the notes the computer keys play, both maps
//
// The strip is an opaque RGB picture with exactly two colours, white and the
// digit grey: white is the mask colour, and with no anti-aliasing there is no
// pale edge pixel that the mask would keep as a fringe over a lit key.
//
// The artwork is placed from the window and keyboard geometry, kept here in
// the same pixels (twips / 15) as the window's layout, so that it sits under
// the controls. The noise of the brushed metal comes from a fixed hash, so the
// output only changes when this file or the fonts change.

#include "drawart/paint.h"
#include "drawart/pictures.h"

#include <QGuiApplication>

using namespace art;

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("assets");
    const QString docs = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QStringLiteral("docs");

    bool ok = true;
    ok &= save(drawStrip(1), out + "/instrument/strip.png");
    ok &= save(drawStrip(2), out + "/instrument/strip@2x.png");
    ok &= save(dragIcon(32), out + "/instrument/dragicon.png");
    ok &= save(dragIcon(64), out + "/instrument/dragicon@2x.png");
    ok &= save(dragIcon16(), out + "/instrument/dragicon16.png");
    ok &= save(dragIcon(32), out + "/instrument/dragicon16@2x.png");
    ok &= save(drawSkin(), out + "/window/skin.jpg", "JPEG", 92);
    ok &= save(drawKnob(), out + "/window/knob.png");
    ok &= save(drawFace(Face::Pressed), out + "/window/face_pressed.png");
    ok &= save(drawFace(Face::Normal), out + "/window/face_normal.png");
    ok &= save(drawFace(Face::Lit), out + "/window/face_lit.png");
    ok &= save(drawFace(Face::Unused), out + "/window/face_unused.png");
    for (int size : {16, 32, 48})
        ok &= save(drawIcon(size), out + QStringLiteral("/window/icon%1.png").arg(size));
    // The desktop's menus and file managers ask for the icon at these sizes.
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256})
        ok &= save(drawIcon(size), out + QStringLiteral("/desktop/icon-%1.png").arg(size));
    ok &= saveScalableIcon(out + QStringLiteral("/desktop/icon.svg"));
    ok &= save(drawKeymap(keymap::Layout::Classic), docs + QStringLiteral("/keymap.png"));
    ok &= save(drawKeymap(keymap::Layout::Piano), docs + QStringLiteral("/keymap-piano.png"));
    return ok ? 0 : 1;
}

