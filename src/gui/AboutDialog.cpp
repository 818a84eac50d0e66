#include "gui/AboutDialog.h"

#include "formats/StringPrintf.h"
#include "gui/GuiMessages.h"
#include "gui/GuiText.h"
#include "gui/ProgramIcon.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace tarnvel::gui {

AboutDialog::AboutDialog(QWidget* parent) : QDialog(parent)
{
    setObjectName("TAboutForm");
    setWindowTitle(qstr(formats::stringPrintf(tarnvel::tr(msg::kAboutTitle), "Tarnvel")));
    auto* v = new QVBoxLayout(this);
    auto* icon = new QLabel;
    icon->setPixmap(programIcon().pixmap(96, 96));
    icon->setAlignment(Qt::AlignCenter);
    v->addWidget(icon);
    auto* name = new QLabel(QStringLiteral("<h2>Tarnvel</h2>"));
    name->setAlignment(Qt::AlignCenter);
    v->addWidget(name);
    auto* version =
        new QLabel(qstr(formats::stringPrintf(tarnvel::tr(msg::kAboutVersion), TARNVEL_VERSION)));
    version->setObjectName("VersionLabel");
    version->setAlignment(Qt::AlignCenter);
    v->addWidget(version);
    auto* text = new QLabel(qtext(msg::kAboutText));
    text->setWordWrap(true);
    text->setAlignment(Qt::AlignCenter);
    text->setMinimumWidth(320);
    v->addWidget(text);
    auto* ok = new QPushButton(qtext(msg::kOk));
    ok->setObjectName("OkButton");
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    v->addWidget(ok, 0, Qt::AlignCenter);
}

} // namespace tarnvel::gui
