#include "templates/uBallotFonts.h"

#include <cstdlib>
#include <memory>
#include <vector>

#include <QFontDatabase>
#include <QGuiApplication>

namespace korvex {

namespace {

const std::vector<QString>& FallbacksFor(std::string_view requested) {
    static const std::vector<QString> song = {"SimSun", "宋体", "NSimSun", "AR PL UMing CN", "AR PL SungtiL GB",
                                              "Noto Serif CJK SC", "Noto Sans CJK SC", "WenQuanYi Zen Hei",
                                              "Droid Sans Fallback"};
    static const std::vector<QString> hei = {"SimHei", "黑体", "Noto Sans CJK SC", "WenQuanYi Zen Hei",
                                             "Droid Sans Fallback", "AR PL UMing CN"};
    static const std::vector<QString> mono = {"Consolas", "DejaVu Sans Mono", "Liberation Mono", "Noto Sans Mono",
                                              "Noto Sans Mono CJK SC", "Nimbus Mono PS"};
    static const std::vector<QString> hand = {"AR PL UKai CN", "AR PL UKai TW", "KaiTi", "楷体",
                                              "AR PL UMing CN", "Noto Serif CJK SC", "Noto Sans CJK SC"};
    if (requested == "黑体") return hei;
    if (requested == "Consolas") return mono;
    if (requested == "手写") return hand;
    return song;
}

}  // namespace

void EnsureGuiApplication() {
    if (QGuiApplication::instance() != nullptr) return;
    if (std::getenv("QT_QPA_PLATFORM") == nullptr && std::getenv("DISPLAY") == nullptr &&
        std::getenv("WAYLAND_DISPLAY") == nullptr)
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static int argc = 1;
    static char name[] = "korvex";
    static char* argv[] = {name, nullptr};
    static std::unique_ptr<QGuiApplication> app = std::make_unique<QGuiApplication>(argc, argv);
}

QString BallotFontFamily(std::string_view requested) {
    EnsureGuiApplication();
    const QStringList installed = QFontDatabase::families();
    for (const QString& family : FallbacksFor(requested))
        if (installed.contains(family, Qt::CaseInsensitive)) return family;
    // Last resort: whatever the system offers for Chinese text.
    const QStringList chinese = QFontDatabase::families(QFontDatabase::SimplifiedChinese);
    return chinese.isEmpty() ? QString() : chinese.front();
}

QFont BallotFont(std::string_view requested, int pixelHeight, bool bold) {
    static const QString song = BallotFontFamily("宋体");
    QFont font(BallotFontFamily(requested));
    // Glyphs missing from the chosen face come from the Song-style face.
    font.setFamilies({BallotFontFamily(requested), song});
    font.setPixelSize(pixelHeight > 0 ? pixelHeight : 1);
    font.setBold(bold);
    font.setStyleStrategy(QFont::PreferAntialias);
    return font;
}

}  // namespace korvex
