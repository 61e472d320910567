#pragma once

#include <QString>

class QLabel;

namespace tellaran {

class Engine;

// The product has no web site of its own: its address is the user guide delivered beside
// the program.
QString ProductAddress(const Engine& engine);

// Makes `label` the link to the product address: a click opens it with the desktop's viewer.
void MakeProductLink(QLabel* label, const Engine& engine);

} // namespace tellaran
