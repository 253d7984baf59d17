#pragma once

#include <QDialog>

// The About box on template 137: product line and version; OK, Enter or Escape close it.
class CAbout : public QDialog {
    Q_OBJECT

public:
    explicit CAbout(QWidget* parent = nullptr);

protected:
    bool OnInitDialog();
};
