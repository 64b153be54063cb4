#pragma once

#include <QWidget>

namespace lv26 {

// A panel: a container framed by an outer bevel, a border and an inner bevel, with a caption
// centred in it (drawn under any child that covers it). Its contents margins equal the width
// of that frame, so a layout set on the panel keeps its children inside the frame.
class TPanel : public QWidget {
    Q_OBJECT
    Q_PROPERTY(BevelCut bevelOuter READ bevelOuter WRITE setBevelOuter)
    Q_PROPERTY(BevelCut bevelInner READ bevelInner WRITE setBevelInner)
    Q_PROPERTY(int bevelWidth READ bevelWidth WRITE setBevelWidth)
    Q_PROPERTY(int borderWidth READ borderWidth WRITE setBorderWidth)
    Q_PROPERTY(QString caption READ caption WRITE setCaption)

public:
    enum BevelCut { bvNone, bvLowered, bvRaised };
    Q_ENUM(BevelCut)

    explicit TPanel(QWidget* parent = nullptr);

    BevelCut bevelOuter() const { return outer_; }
    void setBevelOuter(BevelCut cut);
    BevelCut bevelInner() const { return inner_; }
    void setBevelInner(BevelCut cut);
    // Width of each bevel in pixels (1 by default).
    int bevelWidth() const { return bevelWidth_; }
    void setBevelWidth(int pixels);
    // Pixels between the outer and the inner bevel (0 by default).
    int borderWidth() const { return borderWidth_; }
    void setBorderWidth(int pixels);
    QString caption() const { return caption_; }
    void setCaption(const QString& text);

    // Total width of the frame on each side, in pixels.
    int frameWidth() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void frameChanged();

    BevelCut outer_ = bvRaised;
    BevelCut inner_ = bvNone;
    int bevelWidth_ = 1;
    int borderWidth_ = 0;
    QString caption_;
};

} // namespace lv26
