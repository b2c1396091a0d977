#pragma once

#include <QFrame>
#include <QString>

class QLabel;

// The notice shown above the pages where something about the set-up needs
// the administrator's attention; hidden while there is nothing to say.
class DaemonNotice : public QFrame
{
    Q_OBJECT
public:
    explicit DaemonNotice(QWidget* parent = nullptr);
    QString text() const;
    // As tall as the text needs at the notice's width, not at the width a
    // wrapped label would choose for itself.
    QSize sizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;

public slots:
    void refresh();

private:
    QLabel* m_icon;
    QLabel* m_text;
};
