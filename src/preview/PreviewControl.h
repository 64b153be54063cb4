#pragma once

// The preview control (TPreviewControl): a scrolling box that shows one page of a report
// printer object through its page image (TPreviewImage), zoomed in one of three modes, and
// that receives the generation's two posted notifications while the object is attached.

#include <QAbstractScrollArea>
#include <QByteArray>
#include <QSizeF>
#include <QWidget>
#include <memory>
#include <optional>
#include <vector>

class QPainter;

namespace lv26 {

class TReportPrinter;

// The page image: holds at most one page picture (EMF bytes) and paints it with an outline
// and a drop shadow. Its size is set by the preview control.
class TPreviewImage : public QWidget {
    Q_OBJECT
public:
    explicit TPreviewImage(QWidget* parent = nullptr);

    // The page number the image shows or waits for.
    int pageNumber() const { return pageNumber_; }
    bool hasPage() const { return picture_.has_value(); }
    // The held page's own size from its picture frame, tenths of a millimetre; none without a
    // page, or when the frame cannot be a page's (each side must be 1 mm to 10 m).
    std::optional<QSizeF> pictureSize() const { return pictureSize_; }
    // The zoom the image was last laid out for, percent.
    int zoom() const { return zoom_; }

    // Releases the held picture and fetches page `n` of `printer` (which may be null); the image
    // stays empty when the page is not stored yet. Raises "Metafile is not valid" for a
    // damaged page (the image then stays empty).
    void fetch(TReportPrinter* printer, int n);
    // Releases the held picture (and the outlines).
    void clear();
    // Outlines these rectangles of the held page (its picture's device pixels) until the page
    // is released; the find bar marks its matches with them.
    void setHighlights(std::vector<QRectF> boxes);
    const std::vector<QRectF>& highlights() const { return highlights_; }
    // Where a rectangle of the held page's picture (its device pixels) lies in the image, in
    // the image's pixels; none without a page or a usable frame.
    std::optional<QRectF> imageArea(const QRectF& pictureBox) const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    friend class TPreviewControl;
    void paintHighlights(QPainter& p) const;
    int pageNumber_ = 1;
    int zoom_ = 0;
    std::optional<QByteArray> picture_;
    std::optional<QSizeF> pictureSize_;
    std::vector<QRectF> highlights_;
};

class TPreviewControl : public QAbstractScrollArea {
    Q_OBJECT
public:
    enum class ZoomMode { Fit, PageWidth, Fixed };
    static constexpr int kMinZoom = 2;
    static constexpr int kMaxZoom = 2000;

    explicit TPreviewControl(QWidget* parent = nullptr);
    ~TPreviewControl() override;

    // Attaches `printer` (not owned; must stay alive until detached): its showing-preview
    // flag becomes true and its progress receiver this control; page 1 is requested.
    void attach(TReportPrinter* printer);
    // Detaches the object, if any: a busy object's cancel flag is set, the showing-preview
    // flag cleared, the progress receiver cleared; the image is emptied.
    void detach();
    TReportPrinter* printer() const { return printer_; }

    int PageNumber() const { return pageNumber_; }
    // Goes to page `n`: ignored when n < 1, n > the object's page count, no object is attached,
    // or n is current and already shown. May raise "Metafile is not valid".
    void setPageNumber(int n);
    // Empties the image and fetches the current page again (after a report file is loaded).
    void refetchPage();

    int Zoom() const { return zoom_; }
    ZoomMode mode() const { return mode_; }
    // Accepts 2..2000 (else nothing changes): the mode becomes fixed and the image is laid out.
    void setZoom(int percent);
    // The largest zoom that shows the whole page (95 % of the client area); mode fit.
    void zoomToFit();
    // The zoom that makes the page 90 % of the client width; mode page width.
    void zoomToWidth();
    // Sizes and places the image for the current zoom; scroll positions return to 0.
    void layoutImage();
    // Scrolls as little as needed for the first outline of the image to be in view.
    void scrollToHighlight();

    TPreviewImage* image() const { return image_; }
    // The size the page is laid out for, tenths of a millimetre: the shown page's own size
    // (TPreviewImage::pictureSize), or the object's paper when no page is shown, when the
    // page has no usable frame, or when its frame is within a pixel of the paper (a page
    // recorded on that paper, its frame rounded to whole pixels).
    QSizeF pageSize() const;
    // The page's size at 100 %, pixels: pageSize() x the object's pixels per tenth of a mm.
    QSize pageSizeAt100() const;

Q_SIGNALS:
    // A pages-completed notification arrived: `PageNum` pages are finished.
    void OnPageAvailable(TPreviewControl* Sender, int PageNum);
    // A progress notification arrived with `Progress` percent.
    void OnProgressUpdate(TPreviewControl* Sender, int Progress);

protected:
    bool event(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void pagesCompleted(int count);
    // Lays the image out again, with the zoom mode applied afresh, when the page it now shows
    // has another size than the one it was laid out for.
    void followPageSize();
    void placeImage();
    double paperWidth() const;
    double paperLength() const;
    double factorX() const;
    double factorY() const;

    TPreviewImage* image_;
    TReportPrinter* printer_ = nullptr;
    int pageNumber_ = 1;
    int zoom_ = 218;
    ZoomMode mode_ = ZoomMode::Fixed;
    QPoint imagePos_;    // unscrolled position of the image in the viewport
    QSizeF laidOutSize_; // pageSize() at the last layout
};

} // namespace lv26
