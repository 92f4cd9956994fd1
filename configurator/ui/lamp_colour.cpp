#include "lamp_colour.h"

#include <QApplication>
#include <QLabel>
#include <QPalette>

namespace chronel {

void PaintLamp(QLabel* label, Lamp lamp)
{
    if (!label)
        return;
    QPalette p = label->palette();
    switch (lamp) {
    case Lamp::Green: p.setColor(QPalette::Window, QColor(0, 255, 0)); break;
    case Lamp::Yellow: p.setColor(QPalette::Window, QColor(255, 255, 0)); break;
    case Lamp::ButtonFace: p.setColor(QPalette::Window, QApplication::palette(label).color(QPalette::Button)); break;
    }
    label->setAutoFillBackground(true);
    label->setPalette(p);
}

} // namespace chronel
