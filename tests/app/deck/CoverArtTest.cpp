// Cover art is drawn by command-line tools that run a plain GUI application
// on the offscreen platform: no widget may be made on the way. This suite
// has its own main with a QGuiApplication, so a widget would abort it.
#include "app/deck/CassettePainter.h"
#include "app/deck/TapeView.h"

#include "app/library/Tape.h"

#include <QGuiApplication>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdlib>

TEST(CassetteCoverArt, IsTheCassetteDrawnWithoutWidgets) {
    ASSERT_EQ(QCoreApplication::instance()->metaObject()->className(),
              QByteArray("QGuiApplication"));
    QTemporaryDir folder;
    Tape tape(folder.filePath(QStringLiteral("cover.m4a")));
    tape.setCommitsOnDestruction(false);
    tape.setTitle(QStringLiteral("Cover"));
    tape.setDate(QDateTime(QDate(2012, 3, 4), QTime(10, 20)));
    tape.setTapeLetter(std::make_shared<TapeLetter>(QStringLiteral("C"),
                                                    TapeColorScheme::colorSchemeWithIndex(2)));

    TapeView::installCoverArtRenderer();
    const QImage art = Tape::renderCoverArt(tape);
    Tape::setCoverArtRenderer({});

    ASSERT_FALSE(art.isNull());
    EXPECT_EQ(art.size(), QSize(646, 408)) << "the cassette at twice its size";
    EXPECT_EQ(qAlpha(art.pixel(0, 0)), 0);
    EXPECT_EQ(qAlpha(art.pixel(323, 204)), 255);
    // The letter's tag wears the yellow of its scheme.
    const QColor tag = art.pixelColor(2 * 25, 2 * 20);
    EXPECT_GT(tag.red(), 200);
    EXPECT_GT(tag.green(), 200);
    EXPECT_LT(tag.blue(), 80);

    // The deck's share button is a control, not part of the cassette: the
    // cover shows the label without it.
    MainTapeLabelView label;
    label.setTitle(tape.title());
    label.setDate(tape.date());
    label.setDuration(tape.duration());
    label.setQuality(tape.quality());
    label.setTapeLetter(tape.tapeLetter());
    label.setShowsShareButton(true);
    const QImage withButton = CassettePainter::render(label, NotesTapeLabelView());
    const QRectF button = MainTapeLabelView::shareButtonRect();
    const QRect pixels = QRectF(button.topLeft() * 2, button.size() * 2).toAlignedRect();
    int differing = 0;
    for (int y = pixels.top(); y <= pixels.bottom(); ++y) {
        for (int x = pixels.left(); x <= pixels.right(); ++x) {
            differing += art.pixel(x, y) != withButton.pixel(x, y);
        }
    }
    EXPECT_GT(differing, pixels.width() * pixels.height() / 4);

    const QString snapshots = qEnvironmentVariable("CASSORA_SNAPSHOTS");
    if (!snapshots.isEmpty()) {
        art.save(snapshots + QStringLiteral("/cover.png"));
    }
}

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QGuiApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
