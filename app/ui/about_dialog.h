#pragma once
// "About Kestrelle": the product name, the version, the build stamp, the home page and the support
// address, and OK.

#include <QDialog>

namespace kestrelle {

class AboutDialog final : public QDialog {
    Q_OBJECT
public:
    explicit AboutDialog(QWidget* parent = nullptr);
};

}  // namespace kestrelle
