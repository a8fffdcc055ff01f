// Number fields that take a decimal point however it is typed: under a locale whose decimal
// point is a comma (the operators' Russian), a typed '.' is otherwise dropped without a word,
// and "0.3" becomes 3.
#pragma once

class QWidget;

// Every QDoubleSpinBox under parent (and parent itself, when it is one) reads a typed '.' or
// ',' as the locale's decimal point.
void acceptEitherDecimalPoint(QWidget* parent);
