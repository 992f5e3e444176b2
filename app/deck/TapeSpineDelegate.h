#pragma once

#include <QStyledItemDelegate>

// Paints one row as the spine of a cassette case: smoky plastic around a
// paper insert, the tape letter in its colour scheme at the left, the title
// in the scheme's title colour, and quality, duration and date in small
// type. A selected spine glows cyan.
class TapeSpineDelegate : public QStyledItemDelegate {
    Q_OBJECT

public:
    static const QColor GlowColor;

    explicit TapeSpineDelegate(QObject* parent = nullptr);

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};
