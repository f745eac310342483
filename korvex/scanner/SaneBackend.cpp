#include "scanner/SaneBackend.h"

#include <sane/sane.h>
#include <sane/saneopts.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include "model/Errors.h"
#include "scanner/SaneFrames.h"

namespace korvex {
namespace {

std::atomic<bool> gSaneInUse{false};

std::string StatusText(SANE_Status status) { return std::string("扫描仪错误：") + sane_strstatus(status); }

TScanOption ToOption(const SANE_Option_Descriptor& d) {
    TScanOption o;
    o.Name = d.name ? d.name : "";
    o.Title = d.title ? d.title : o.Name;
    switch (d.type) {
        case SANE_TYPE_BOOL: o.Type = TScanOptionType::Bool; break;
        case SANE_TYPE_INT: o.Type = TScanOptionType::Int; break;
        case SANE_TYPE_FIXED: o.Type = TScanOptionType::Fixed; break;
        case SANE_TYPE_STRING: o.Type = TScanOptionType::String; break;
        case SANE_TYPE_BUTTON: o.Type = TScanOptionType::Button; break;
        default: o.Type = TScanOptionType::Group; break;
    }
    switch (d.unit) {
        case SANE_UNIT_PIXEL: o.Unit = TScanUnit::Pixel; break;
        case SANE_UNIT_BIT: o.Unit = TScanUnit::Bit; break;
        case SANE_UNIT_MM: o.Unit = TScanUnit::Mm; break;
        case SANE_UNIT_DPI: o.Unit = TScanUnit::Dpi; break;
        case SANE_UNIT_PERCENT: o.Unit = TScanUnit::Percent; break;
        case SANE_UNIT_MICROSECOND: o.Unit = TScanUnit::Microsecond; break;
        default: o.Unit = TScanUnit::None; break;
    }
    o.Active = SANE_OPTION_IS_ACTIVE(d.cap);
    o.Settable = SANE_OPTION_IS_SETTABLE(d.cap);
    const bool fixed = d.type == SANE_TYPE_FIXED;
    auto number = [fixed](SANE_Word w) { return fixed ? SANE_UNFIX(w) : static_cast<double>(w); };
    if (d.constraint_type == SANE_CONSTRAINT_RANGE && d.constraint.range) {
        const SANE_Range& r = *d.constraint.range;
        o.Range = TNumberRange{number(r.min), number(r.max), number(r.quant)};
    } else if (d.constraint_type == SANE_CONSTRAINT_WORD_LIST && d.constraint.word_list) {
        const SANE_Word* list = d.constraint.word_list;
        for (SANE_Word i = 1; i <= list[0]; ++i) o.NumberList.push_back(number(list[i]));
    } else if (d.constraint_type == SANE_CONSTRAINT_STRING_LIST && d.constraint.string_list) {
        for (const SANE_String_Const* s = d.constraint.string_list; *s; ++s) o.StringList.emplace_back(*s);
    }
    return o;
}

class TSaneDevice : public IScanDevice {
public:
    explicit TSaneDevice(SANE_Handle handle) : handle_(handle) {}
    ~TSaneDevice() override {
        sane_cancel(handle_);
        sane_close(handle_);
    }

    std::vector<TScanOption> Options() override {
        std::vector<TScanOption> options;
        for (SANE_Int i = 1; i < OptionCount(); ++i)
            if (const SANE_Option_Descriptor* d = sane_get_option_descriptor(handle_, i))
                if (d->name && *d->name) options.push_back(ToOption(*d));
        return options;
    }

    std::optional<TScanValue> GetOption(const std::string& name) override {
        SANE_Int index = 0;
        const SANE_Option_Descriptor* d = Find(name, index);
        if (!d || !SANE_OPTION_IS_ACTIVE(d->cap) || d->size <= 0) return std::nullopt;
        std::vector<SANE_Byte> buffer(static_cast<std::size_t>(d->size) + 1, 0);
        if (sane_control_option(handle_, index, SANE_ACTION_GET_VALUE, buffer.data(), nullptr) != SANE_STATUS_GOOD)
            return std::nullopt;
        SANE_Word word = 0;
        if (d->type != SANE_TYPE_STRING) std::memcpy(&word, buffer.data(), sizeof word);
        switch (d->type) {
            case SANE_TYPE_BOOL: return TScanValue(word != SANE_FALSE);
            case SANE_TYPE_INT: return TScanValue(static_cast<double>(word));
            case SANE_TYPE_FIXED: return TScanValue(SANE_UNFIX(word));
            case SANE_TYPE_STRING: return TScanValue(std::string(reinterpret_cast<const char*>(buffer.data())));
            default: return std::nullopt;
        }
    }

    bool SetOption(const std::string& name, const TScanValue& value) override {
        SANE_Int index = 0;
        const SANE_Option_Descriptor* d = Find(name, index);
        if (!d || !SANE_OPTION_IS_ACTIVE(d->cap) || !SANE_OPTION_IS_SETTABLE(d->cap) || d->size <= 0) return false;
        std::vector<SANE_Byte> buffer(static_cast<std::size_t>(d->size), 0);
        if (d->type == SANE_TYPE_STRING) {
            const std::string* text = std::get_if<std::string>(&value);
            if (!text || text->size() + 1 > buffer.size()) return false;
            std::memcpy(buffer.data(), text->c_str(), text->size() + 1);
        } else {
            SANE_Word word;
            if (d->type == SANE_TYPE_BOOL) {
                const bool* b = std::get_if<bool>(&value);
                if (!b) return false;
                word = *b ? SANE_TRUE : SANE_FALSE;
            } else {
                const double* n = std::get_if<double>(&value);
                if (!n || (d->type != SANE_TYPE_INT && d->type != SANE_TYPE_FIXED)) return false;
                word = d->type == SANE_TYPE_FIXED ? SANE_FIX(*n) : static_cast<SANE_Word>(*n);
            }
            for (std::size_t at = 0; at + sizeof word <= buffer.size(); at += sizeof word)
                std::memcpy(buffer.data() + at, &word, sizeof word);  // every element of an array option
        }
        SANE_Int info = 0;
        return sane_control_option(handle_, index, SANE_ACTION_SET_VALUE, buffer.data(), &info) == SANE_STATUS_GOOD;
    }

    TPageResult AcquirePage() override {
        TPageResult result;
        std::vector<TSaneFrame> frames;
        for (;;) {
            const SANE_Status started = sane_start(handle_);
            if (started == SANE_STATUS_NO_DOCS) return Finish(TPageResult::psNoDocuments, "");
            if (started != SANE_STATUS_GOOD) return Finish(TPageResult::psError, StatusText(started));
            SANE_Parameters p{};
            const SANE_Status params = sane_get_parameters(handle_, &p);
            if (params != SANE_STATUS_GOOD) return Finish(TPageResult::psError, StatusText(params), true);
            TSaneFrame frame;
            switch (p.format) {
                case SANE_FRAME_GRAY: frame.Kind = TFrameKind::Gray; break;
                case SANE_FRAME_RGB: frame.Kind = TFrameKind::Rgb; break;
                case SANE_FRAME_RED: frame.Kind = TFrameKind::Red; break;
                case SANE_FRAME_GREEN: frame.Kind = TFrameKind::Green; break;
                case SANE_FRAME_BLUE: frame.Kind = TFrameKind::Blue; break;
                default: return Finish(TPageResult::psError, "扫描仪送来的图像格式不受支持。", true);
            }
            frame.Depth = p.depth;
            frame.PixelsPerLine = p.pixels_per_line;
            frame.BytesPerLine = p.bytes_per_line;
            if (p.bytes_per_line <= 0 || p.pixels_per_line <= 0 || p.pixels_per_line > kMaxScanSide ||
                p.lines > kMaxScanSide)
                return Finish(TPageResult::psError, "扫描仪送来的图像尺寸无效。", true);
            // Lines may be unknown (-1, a hand scanner): read to the end, within the size limit.
            const std::size_t limit = static_cast<std::size_t>(p.bytes_per_line) * kMaxScanSide;
            if (p.lines > 0) frame.Data.reserve(static_cast<std::size_t>(p.bytes_per_line) * p.lines);
            std::vector<SANE_Byte> chunk(1u << 20);
            for (;;) {
                SANE_Int got = 0;
                const SANE_Status st = sane_read(handle_, chunk.data(), static_cast<SANE_Int>(chunk.size()), &got);
                if (st == SANE_STATUS_EOF) break;
                if (st == SANE_STATUS_NO_DOCS) return Finish(TPageResult::psNoDocuments, "", frame.Data.empty());
                if (st != SANE_STATUS_GOOD) return Finish(TPageResult::psError, StatusText(st), frame.Data.empty());
                if (got > 0) frame.Data.insert(frame.Data.end(), chunk.begin(), chunk.begin() + got);
                if (frame.Data.size() > limit) return Finish(TPageResult::psError, "扫描仪送来的图像过大。", false);
            }
            frame.Lines = static_cast<int>(frame.Data.size() / static_cast<std::size_t>(p.bytes_per_line));
            if (p.lines > 0 && frame.Lines > p.lines) frame.Lines = p.lines;
            if (frame.Lines == 0) return Finish(TPageResult::psNoImage, "");
            frames.push_back(std::move(frame));
            if (p.last_frame) break;
        }
        sane_cancel(handle_);  // ends the page; some backends need it before the next start
        try {
            result.Image = FramesToRaster(frames);
            result.Status = TPageResult::psPage;
        } catch (const EKorvexError& e) {
            result.Status = TPageResult::psError;
            result.Message = e.what();
        }
        return result;
    }

private:
    SANE_Int OptionCount() {
        SANE_Int count = 0;
        if (sane_control_option(handle_, 0, SANE_ACTION_GET_VALUE, &count, nullptr) != SANE_STATUS_GOOD) return 0;
        return count;
    }

    // Descriptors are fetched afresh on every look-up: a device may reload
    // them after any change, and some refuse options not fetched since.
    const SANE_Option_Descriptor* Find(const std::string& name, SANE_Int& index) {
        const SANE_Int count = OptionCount();
        for (SANE_Int i = 1; i < count; ++i) {
            const SANE_Option_Descriptor* d = sane_get_option_descriptor(handle_, i);
            if (d && d->name && name == d->name) {
                index = i;
                return d;
            }
        }
        return nullptr;
    }

    TPageResult Finish(TPageResult::TStatus status, const std::string& message, bool failedEarly = false) {
        // Cancelling a device whose reader has only just started can hang some
        // backends; a short pause before the cancel avoids that.
        if (failedEarly) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        sane_cancel(handle_);
        TPageResult r;
        r.Status = status;
        r.Message = message;
        return r;
    }

    SANE_Handle handle_;
};

}  // namespace

TSaneBackend::TSaneBackend() {
    if (gSaneInUse.exchange(true)) throw EKorvexError("扫描仪接口已在使用中。");
    SANE_Int version = 0;
    const SANE_Status st = sane_init(&version, nullptr);
    if (st != SANE_STATUS_GOOD) {
        gSaneInUse = false;
        throw EKorvexError("无法启动扫描仪接口（SANE）：" + std::string(sane_strstatus(st)));
    }
}

TSaneBackend::~TSaneBackend() {
    sane_exit();
    gSaneInUse = false;
}

std::vector<TScanDeviceInfo> TSaneBackend::ListDevices() {
    const SANE_Device** list = nullptr;
    std::vector<TScanDeviceInfo> devices;
    if (sane_get_devices(&list, SANE_TRUE) != SANE_STATUS_GOOD || !list) return devices;
    for (const SANE_Device** d = list; *d; ++d)
        devices.push_back({(*d)->name ? (*d)->name : "", (*d)->vendor ? (*d)->vendor : "",
                           (*d)->model ? (*d)->model : "", (*d)->type ? (*d)->type : ""});
    return devices;
}

std::unique_ptr<IScanDevice> TSaneBackend::Open(const std::string& name) {
    SANE_Handle handle = nullptr;
    const SANE_Status st = sane_open(name.c_str(), &handle);
    if (st != SANE_STATUS_GOOD || !handle)
        throw EKorvexError("无法打开扫描仪 " + name + "：" + sane_strstatus(st));
    return std::make_unique<TSaneDevice>(handle);
}

}  // namespace korvex
