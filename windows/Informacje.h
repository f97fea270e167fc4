#pragma once

#include <QWidget>

class QLabel;
class QAbstractButton;

// The About window: the logo, the credits, and a button that hides it.
class TInformacjon : public QWidget
{
    Q_OBJECT
public:
    explicit TInformacjon(QWidget *parent = nullptr);

    QLabel *Image1 = nullptr;
    QLabel *Label1 = nullptr;
    QLabel *Label2 = nullptr;
    QLabel *Label3 = nullptr;
    QLabel *Label4 = nullptr;
    QAbstractButton *SpeedButton1 = nullptr;

    void SpeedButton1Click();
};
