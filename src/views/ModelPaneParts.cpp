#include "ModelPaneParts.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QUrl>
#include <QVBoxLayout>

#include "ModelManagerView.h"
#include "ViewFonts.h"

namespace parlote::views_detail {

QVBoxLayout* paneLayout(QWidget* pane) {
    auto* layout = new QVBoxLayout(pane);
    layout->setSpacing(paneSpacing);
    return layout;
}

QLabel* titleLabel(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setFont(views::titleFont(label->font(), 1.45));
    label->setAccessibleName(text);
    return label;
}

QLabel* bodyLabel(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    return label;
}

QLabel* nameHintLabel(QWidget* parent) {
    QLabel* hint =
        bodyLabel(QObject::tr("Model names should match exactly as shown on the Ollama "
                              "library (e.g., 'llama3.2', 'gemma2:9b', 'codellama:7b')."),
                  parent);
    hint->setFont(views::captionFont(hint->font()));
    hint->setForegroundRole(QPalette::PlaceholderText);
    return hint;
}

QWidget* browseLine(QWidget* parent, QLabel** link) {
    auto* line = new QWidget(parent);
    auto* row = new QHBoxLayout(line);
    row->setContentsMargins(0, 0, 0, 0);
    auto* text = new QLabel(QObject::tr("Browse available models at"), line);
    text->setTextFormat(Qt::PlainText);
    const QUrl url = ModelManagerView::libraryUrl();
    const QString label = url.toString(QUrl::RemoveScheme).mid(2);  // without "//"
    auto* anchor = new QLabel(line);
    anchor->setTextFormat(Qt::RichText);
    anchor->setOpenExternalLinks(false);
    anchor->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    anchor->setToolTip(url.toString());
    anchor->setAccessibleName(label);
    anchor->setAccessibleDescription(QObject::tr("Opens the Ollama model library in the browser"));
    row->addWidget(text);
    row->addWidget(anchor);
    row->addStretch(1);
    *link = anchor;
    return line;
}

}  // namespace parlote::views_detail
