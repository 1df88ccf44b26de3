#pragma once

class QWidget;

// The look all windows share and how they are shown.
namespace WindowLook {

// Fixed dialog frame without minimise or maximise box, Tahoma 11 px (or the closest
// installed face), button-face background, size fixed to the layout's.
void apply(QWidget *window, bool alwaysOnTop);

// Shows a window non-modally and brings it to the front; centred on its screen's work
// area the first time, where it was left afterwards.
void show(QWidget *window);

} // namespace WindowLook
