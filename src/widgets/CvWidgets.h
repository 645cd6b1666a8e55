#pragma once

// Small constructors for the window's named controls.

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QStringList>
#include <QStyleOptionButton>
#include <QStylePainter>

#include <algorithm>

template <class T> T* Named(T* w, const QString& name)
{
    w->setObjectName(name);
    return w;
}

inline QPushButton* NewButton(const QString& name, const QString& caption)
{
    return Named(new QPushButton(caption), name);
}

inline QCheckBox* NewCheckBox(const QString& name, const QString& caption, bool checked)
{
    auto* box = Named(new QCheckBox(caption), name);
    box->setChecked(checked);
    return box;
}

inline QLabel* NewLabel(const QString& name, const QString& caption)
{
    return Named(new QLabel(caption), name);
}

inline QComboBox* NewComboBox(const QString& name, const QStringList& items = {}, bool editable = false)
{
    auto* box = Named(new QComboBox, name);
    box->setEditable(editable);
    box->addItems(items);
    return box;
}

// The items of a send-ending list (what ends a send in ASCII format), in TSendEnding order.
inline QStringList SendEndingItems()
{
    return {QStringLiteral("+ none"), QStringLiteral("+ CR"), QStringLiteral("+ LF"),
            QStringLiteral("+ CR LF")};
}

// A send-ending list's tool tip and its "none" item in the UI language.
inline void CaptionSendEnding(QComboBox* box, const QString& lang)
{
    const bool en = lang == QStringLiteral("EN");
    box->setToolTip(en ? QStringLiteral("What ends the text of one send in ASCII format")
                       : QStringLiteral("ASCII 格式每次发送的结尾"));
    box->setItemText(0, en ? QStringLiteral("+ none") : QStringLiteral("+ 无"));
}

// A push button that never grows with its caption: a caption wider than the button is
// shortened in the middle when drawn ("Open The Device /run/…/corvane-sim-tty"), and the
// whole caption is then its tool tip. text() is always the whole caption.
class TElideButton : public QPushButton {
public:
    using QPushButton::QPushButton;

    QSize minimumSizeHint() const override { return HintFor(QStringLiteral("…")); }
    QSize sizeHint() const override
    {
        const QSize full = QPushButton::sizeHint();
        const int roomy = HintFor(QString(kHintChars, u'x')).width();
        return {std::min(full.width(), roomy), full.height()};
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QStylePainter painter(this);
        QStyleOptionButton option;
        initStyleOption(&option);
        const QRect contents = style()->subElementRect(QStyle::SE_PushButtonContents, &option, this);
        option.text = fontMetrics().elidedText(text(), Qt::ElideMiddle, std::max(0, contents.width()));
        painter.drawControl(QStyle::CE_PushButton, option);
        const QString tip = option.text != text() ? text() : QString();
        if (toolTip() != tip) setToolTip(tip);
    }

private:
    static constexpr int kHintChars = 24;
    QSize HintFor(const QString& caption) const
    {
        QStyleOptionButton option;
        initStyleOption(&option);
        option.text = caption;
        const QSize text(fontMetrics().horizontalAdvance(caption), fontMetrics().height());
        return style()->sizeFromContents(QStyle::CT_PushButton, &option, text, this);
    }
};
