#include "scanner/SaneBackend.h"

#include <sane/sane.h>
#include <sane/saneopts.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include "model/Errors.h"
#include "scanner/SaneApi.h"
#include "scanner/SaneFrames.h"

namespace korvex {
namespace {

std::atomic<bool> gSaneInUse{false};

// Bytes asked of the device per read (reads block): small enough that the
// window gets its events handled several times a second even on a slow link.
constexpr SANE_Int kChunkBytes = 64 * 1024;

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
    TSaneDevice(const TSaneApi& api, SANE_Handle handle) : api_(api), handle_(handle) {}
    ~TSaneDevice() override {
        api_.Cancel(handle_);
        api_.Close(handle_);
    }

    std::vector<TScanOption> Options() override {
        std::vector<TScanOption> options;
        for (SANE_Int i = 1; i < OptionCount(); ++i)
            if (const SANE_Option_Descriptor* d = api_.GetOptionDescriptor(handle_, i))
                if (d->name && *d->name) options.push_back(ToOption(*d));
        return options;
    }

    std::optional<TScanValue> GetOption(const std::string& name) override {
        SANE_Int index = 0;
        const SANE_Option_Descriptor* d = Find(name, index);
        if (!d || !SANE_OPTION_IS_ACTIVE(d->cap) || d->size <= 0) return std::nullopt;
        std::vector<SANE_Byte> buffer(static_cast<std::size_t>(d->size) + 1, 0);
        if (api_.ControlOption(handle_, index, SANE_ACTION_GET_VALUE, buffer.data(), nullptr) != SANE_STATUS_GOOD)
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
        return api_.ControlOption(handle_, index, SANE_ACTION_SET_VALUE, buffer.data(), &info) == SANE_STATUS_GOOD;
    }

    TPageResult AcquirePage(const TReadProgress& progress) override {
        TPageResult result;
        std::vector<TSaneFrame> frames;
        std::size_t received = 0;
        for (;;) {
            const SANE_Status started = api_.Start(handle_);
            if (started == SANE_STATUS_NO_DOCS) return Finish(TPageResult::psNoDocuments, "");
            if (started == SANE_STATUS_CANCELLED) return Finish(TPageResult::psCancelled, "");
            if (started != SANE_STATUS_GOOD) return Finish(TPageResult::psError, StatusText(started));
            SANE_Parameters p{};
            const SANE_Status params = api_.GetParameters(handle_, &p);
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
            const std::size_t frameBytes = p.lines > 0 ? static_cast<std::size_t>(p.bytes_per_line) * p.lines : 0;
            const bool separateColours = frame.Kind != TFrameKind::Gray && frame.Kind != TFrameKind::Rgb;
            const std::size_t expected = frameBytes * (separateColours ? 3 : 1);
            if (frameBytes > 0) frame.Data.reserve(frameBytes);
            std::vector<SANE_Byte> chunk(static_cast<std::size_t>(kChunkBytes));
            for (;;) {
                SANE_Int got = 0;
                const SANE_Status st = api_.Read(handle_, chunk.data(), kChunkBytes, &got);
                if (st == SANE_STATUS_EOF) break;
                if (st == SANE_STATUS_NO_DOCS) return Finish(TPageResult::psNoDocuments, "", frame.Data.empty());
                if (st == SANE_STATUS_CANCELLED) return Finish(TPageResult::psCancelled, "", frame.Data.empty());
                if (st != SANE_STATUS_GOOD) return Finish(TPageResult::psError, StatusText(st), frame.Data.empty());
                if (got > 0) {
                    frame.Data.insert(frame.Data.end(), chunk.begin(), chunk.begin() + got);
                    received += static_cast<std::size_t>(got);
                } else {
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));  // nothing yet
                }
                if (frame.Data.size() > limit) return Finish(TPageResult::psError, "扫描仪送来的图像过大。", false);
                if (progress && !progress(received, expected))
                    return Finish(TPageResult::psCancelled, "", frame.Data.empty());
            }
            frame.Lines = static_cast<int>(frame.Data.size() / static_cast<std::size_t>(p.bytes_per_line));
            if (p.lines > 0 && frame.Lines > p.lines) frame.Lines = p.lines;
            if (frame.Lines == 0) return Finish(TPageResult::psNoImage, "");
            frames.push_back(std::move(frame));
            if (p.last_frame) break;
        }
        api_.Cancel(handle_);  // ends the page; some backends need it before the next start
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
    std::string StatusText(SANE_Status status) const {
        const char* text = api_.StatusText(status);
        return std::string("扫描仪错误：") + (text ? text : "unknown status");
    }

    SANE_Int OptionCount() {
        SANE_Int count = 0;
        if (api_.ControlOption(handle_, 0, SANE_ACTION_GET_VALUE, &count, nullptr) != SANE_STATUS_GOOD) return 0;
        return count;
    }

    // Descriptors are fetched afresh on every look-up: a device may reload
    // them after any change, and some refuse options not fetched since.
    const SANE_Option_Descriptor* Find(const std::string& name, SANE_Int& index) {
        const SANE_Int count = OptionCount();
        for (SANE_Int i = 1; i < count; ++i) {
            const SANE_Option_Descriptor* d = api_.GetOptionDescriptor(handle_, i);
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
        api_.Cancel(handle_);
        TPageResult r;
        r.Status = status;
        r.Message = message;
        return r;
    }

    const TSaneApi& api_;
    SANE_Handle handle_;
};

}  // namespace

const TSaneApi& LinkedSaneApi() {
    static const TSaneApi api{&sane_init,  &sane_exit,    &sane_get_devices,        &sane_open,
                              &sane_close, &sane_get_option_descriptor, &sane_control_option,
                              &sane_get_parameters, &sane_start, &sane_read, &sane_cancel,
                              &sane_strstatus};
    return api;
}

TSaneBackend::TSaneBackend() : TSaneBackend(LinkedSaneApi()) {}

TSaneBackend::TSaneBackend(const TSaneApi& api) : api_(api) {
    if (gSaneInUse.exchange(true)) throw EKorvexError("扫描仪接口已在使用中。");
    SANE_Int version = 0;
    const SANE_Status st = api_.Init(&version, nullptr);
    if (st != SANE_STATUS_GOOD) {
        gSaneInUse = false;
        throw EKorvexError("无法启动扫描仪接口（SANE）：" + std::string(api_.StatusText(st)));
    }
}

TSaneBackend::~TSaneBackend() {
    api_.Exit();
    gSaneInUse = false;
}

std::vector<TScanDeviceInfo> TSaneBackend::ListDevices() {
    const SANE_Device** list = nullptr;
    std::vector<TScanDeviceInfo> devices;
    // Not local only: network and driverless scanners come through back ends
    // such as net and airscan, which a local-only list leaves out.
    if (api_.GetDevices(&list, SANE_FALSE) != SANE_STATUS_GOOD || !list) return devices;
    for (const SANE_Device** d = list; *d; ++d)
        devices.push_back({(*d)->name ? (*d)->name : "", (*d)->vendor ? (*d)->vendor : "",
                           (*d)->model ? (*d)->model : "", (*d)->type ? (*d)->type : ""});
    return devices;
}

std::unique_ptr<IScanDevice> TSaneBackend::Open(const std::string& name) {
    SANE_Handle handle = nullptr;
    const SANE_Status st = api_.Open(name.c_str(), &handle);
    if (st != SANE_STATUS_GOOD || !handle)
        throw EKorvexError("无法打开扫描仪 " + name + "：" + api_.StatusText(st));
    return std::make_unique<TSaneDevice>(api_, handle);
}

}  // namespace korvex
