#include "export/OleCompoundFile.h"

#include <gsf/gsf-outfile-msole.h>
#include <gsf/gsf-outfile.h>
#include <gsf/gsf-output-memory.h>
#include <gsf/gsf-output.h>
#include <gsf/gsf-utils.h>

#include <memory>
#include <mutex>

#include "model/Errors.h"

namespace korvex {
namespace {

struct TUnref {
    void operator()(void* object) const { g_object_unref(object); }
};
using TGsfOutput = std::unique_ptr<GsfOutput, TUnref>;

void Check(bool ok, GsfOutput* output, const char* step) {
    if (!ok) {
        const GError* error = gsf_output_error(output);
        throw EKorvexError(std::string("无法生成 OLE 复合文档（") + step + "）" +
                           (error != nullptr ? std::string("：") + error->message : std::string()));
    }
}

}  // namespace

std::string BuildCompoundFile(const std::string& streamName, const std::string& streamBytes,
                              const unsigned char (&classId)[16]) {
    static std::once_flag initialised;
    std::call_once(initialised, [] { gsf_init(); });

    TGsfOutput memory(gsf_output_memory_new());
    TGsfOutput root(GSF_OUTPUT(gsf_outfile_msole_new(memory.get())));
    Check(root != nullptr, memory.get(), "container");
    gsf_outfile_msole_set_class_id(GSF_OUTFILE_MSOLE(root.get()), classId);
    {
        TGsfOutput stream(gsf_outfile_new_child(GSF_OUTFILE(root.get()), streamName.c_str(), FALSE));
        Check(stream != nullptr, root.get(), "stream");
        Check(gsf_output_write(stream.get(), streamBytes.size(),
                               reinterpret_cast<const guint8*>(streamBytes.data())),
              stream.get(), "write");
        Check(gsf_output_close(stream.get()), stream.get(), "close stream");
    }
    Check(gsf_output_close(root.get()), root.get(), "close");
    GsfOutputMemory* bytes = GSF_OUTPUT_MEMORY(memory.get());
    const std::size_t size = static_cast<std::size_t>(gsf_output_size(memory.get()));
    return std::string(reinterpret_cast<const char*>(gsf_output_memory_get_bytes(bytes)), size);
}

}  // namespace korvex
