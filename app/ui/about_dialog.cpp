#include "app/ui/about_dialog.h"

#include "app/build_info.h"
#include "app/start_checks.h"
#include "app/ui/program_icon.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QUrl>
#include <QVBoxLayout>

namespace kestrelle {

namespace {

QLabel* linkLabel(const QString& address, const QString& shown, QWidget* parent) {
    auto* label = new QLabel(
        QStringLiteral("<a href=\"%1\">%2</a>").arg(address.toHtmlEscaped(), shown.toHtmlEscaped()), parent);
    label->setTextFormat(Qt::RichText);
    label->setTextInteractionFlags(Qt::TextBrowserInteraction);
    label->setOpenExternalLinks(true);
    return label;
}

}  // namespace

AboutDialog::AboutDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("About Kestrelle"));
    auto* icon = new QLabel(this);
    icon->setPixmap(programIcon().pixmap(QSize(48, 48), devicePixelRatio()));
    icon->setAlignment(Qt::AlignTop);

    auto* name = new QLabel(QStringLiteral("Kestrelle"), this);
    QFont nameFont = name->font();
    nameFont.setBold(true);
    nameFont.setPointSizeF(nameFont.pointSizeF() * 1.4);
    name->setFont(nameFont);
    auto* version = new QLabel(QStringLiteral("Version %1").arg(QString::fromLatin1(programVersion())), this);
    auto* build = new QLabel(QString::fromStdString(buildStampText()), this);
    const QString mail = QString::fromLatin1(kContactUrl);
    const QString mailShown = mail.mid(mail.indexOf(QLatin1Char(':')) + 1).section(QLatin1Char('?'), 0, 0);

    auto* texts = new QVBoxLayout;
    texts->addWidget(name);
    texts->addWidget(version);
    texts->addWidget(build);
    texts->addSpacing(8);
    texts->addWidget(linkLabel(QString::fromLatin1(kHomePageUrl), QString::fromLatin1(kHomePageUrl), this));
    texts->addWidget(linkLabel(mail, mailShown, this));

    auto* row = new QHBoxLayout;
    row->addWidget(icon);
    row->addSpacing(12);
    row->addLayout(texts, 1);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(row);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

}  // namespace kestrelle
