#pragma once

// What the panes of the model manager (ModelManagerView) share: their layout and title,
// body text, the hint on model names, and the line that links to the model library.

#include <QString>

class QLabel;
class QVBoxLayout;
class QWidget;

namespace parlote::views_detail {

/// Space between the parts of a pane.
constexpr int paneSpacing = 16;

/// The pane's column, `paneSpacing` apart.
QVBoxLayout* paneLayout(QWidget* pane);
/// A pane's title: larger than a headline, semibold.
QLabel* titleLabel(const QString& text, QWidget* parent);
/// Plain text, wrapped.
QLabel* bodyLabel(const QString& text, QWidget* parent);
/// The hint on how to write a model's name, in the caption style.
QLabel* nameHintLabel(QWidget* parent);
/// "Browse available models at ollama.com/library"; `*link` is set to the link's label,
/// which the owner colours and whose activation it handles.
QWidget* browseLine(QWidget* parent, QLabel** link);

}  // namespace parlote::views_detail
