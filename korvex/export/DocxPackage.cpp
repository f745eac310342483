// The .docx container: the document part with its styles and properties in a
// zip file, built in memory with libzip.
#include <zip.h>

#include <memory>

#include "export/XmlText.h"
#include "export/uWordDocument.h"
#include "model/Errors.h"

namespace korvex {
namespace {

constexpr const char* kXmlHead = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n";

std::string ContentTypes() {
    return std::string(kXmlHead) +
           "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
           "<Default Extension=\"rels\" ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
           "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
           "<Override PartName=\"/word/document.xml\" "
           "ContentType=\"application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml\"/>"
           "<Override PartName=\"/word/styles.xml\" "
           "ContentType=\"application/vnd.openxmlformats-officedocument.wordprocessingml.styles+xml\"/>"
           "<Override PartName=\"/docProps/core.xml\" "
           "ContentType=\"application/vnd.openxmlformats-package.core-properties+xml\"/>"
           "</Types>";
}

std::string PackageRelationships() {
    return std::string(kXmlHead) +
           "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
           "<Relationship Id=\"rId1\" "
           "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument\" "
           "Target=\"word/document.xml\"/>"
           "<Relationship Id=\"rId2\" "
           "Type=\"http://schemas.openxmlformats.org/package/2006/relationships/metadata/core-properties\" "
           "Target=\"docProps/core.xml\"/>"
           "</Relationships>";
}

std::string DocumentRelationships() {
    return std::string(kXmlHead) +
           "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
           "<Relationship Id=\"rId1\" "
           "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/styles\" "
           "Target=\"styles.xml\"/>"
           "</Relationships>";
}

std::string Styles() {
    return std::string(kXmlHead) +
           "<w:styles xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\">"
           "<w:docDefaults><w:rPrDefault><w:rPr>"
           "<w:rFonts w:ascii=\"Times New Roman\" w:eastAsia=\"宋体\" w:hAnsi=\"Times New Roman\" "
           "w:cs=\"Times New Roman\"/><w:kern w:val=\"2\"/><w:sz w:val=\"21\"/><w:szCs w:val=\"24\"/>"
           "<w:lang w:val=\"en-US\" w:eastAsia=\"zh-CN\" w:bidi=\"ar-SA\"/>"
           "</w:rPr></w:rPrDefault><w:pPrDefault/></w:docDefaults>"
           "<w:style w:type=\"paragraph\" w:default=\"1\" w:styleId=\"Normal\"><w:name w:val=\"Normal\"/>"
           "<w:pPr><w:widowControl w:val=\"0\"/></w:pPr></w:style>"
           "<w:style w:type=\"table\" w:default=\"1\" w:styleId=\"TableNormal\"><w:name w:val=\"Normal Table\"/>"
           "<w:tblPr><w:tblInd w:w=\"0\" w:type=\"dxa\"/><w:tblCellMar>"
           "<w:top w:w=\"0\" w:type=\"dxa\"/><w:left w:w=\"108\" w:type=\"dxa\"/>"
           "<w:bottom w:w=\"0\" w:type=\"dxa\"/><w:right w:w=\"108\" w:type=\"dxa\"/>"
           "</w:tblCellMar></w:tblPr></w:style>"
           "</w:styles>";
}

std::string CoreProperties(const std::string& title) {
    std::string xml = std::string(kXmlHead) +
                      "<cp:coreProperties "
                      "xmlns:cp=\"http://schemas.openxmlformats.org/package/2006/metadata/core-properties\" "
                      "xmlns:dc=\"http://purl.org/dc/elements/1.1/\">";
    if (!title.empty()) {
        xml += "<dc:title>" + XmlAttribute(title) + "</dc:title>";
    }
    return xml + "<dc:creator>Korvex</dc:creator></cp:coreProperties>";
}

// Raises the error's message; an error of our own is released first.
[[noreturn]] void RaiseZipError(zip_error_t* error, bool owned = true) {
    const std::string message = zip_error_strerror(error);
    if (owned) {
        zip_error_fini(error);
    }
    throw EKorvexError("无法生成 Word 文档：" + message);
}

struct TSourceFree {
    void operator()(zip_source_t* s) const { zip_source_free(s); }
};

}  // namespace

std::string TWordDocument::DocxBytes() const {
    const std::pair<const char*, std::string> parts[] = {
        {"[Content_Types].xml", ContentTypes()},
        {"_rels/.rels", PackageRelationships()},
        {"word/document.xml", DocumentXml()},
        {"word/_rels/document.xml.rels", DocumentRelationships()},
        {"word/styles.xml", Styles()},
        {"docProps/core.xml", CoreProperties(FTitle)},
    };

    zip_error_t error;
    zip_error_init(&error);
    std::unique_ptr<zip_source_t, TSourceFree> buffer(zip_source_buffer_create(nullptr, 0, 0, &error));
    if (!buffer) {
        RaiseZipError(&error);
    }
    zip_source_keep(buffer.get());  // the archive's close must not free the buffer
    zip_t* archive = zip_open_from_source(buffer.get(), ZIP_TRUNCATE, &error);
    if (archive == nullptr) {
        zip_source_free(buffer.get());  // drops the reference the archive would have taken
        RaiseZipError(&error);
    }
    for (const auto& [name, bytes] : parts) {
        zip_source_t* part = zip_source_buffer(archive, bytes.data(), bytes.size(), 0);
        if (part == nullptr || zip_file_add(archive, name, part, ZIP_FL_ENC_UTF_8) < 0) {
            zip_source_free(part);
            zip_error_set(&error, zip_error_code_zip(zip_get_error(archive)), 0);
            zip_discard(archive);
            RaiseZipError(&error);
        }
    }
    if (zip_close(archive) < 0) {
        zip_error_set(&error, zip_error_code_zip(zip_get_error(archive)), 0);
        zip_discard(archive);
        RaiseZipError(&error);
    }

    std::string bytes;
    if (zip_source_open(buffer.get()) < 0 || zip_source_seek(buffer.get(), 0, SEEK_END) < 0) {
        RaiseZipError(zip_source_error(buffer.get()), false);
    }
    const zip_int64_t size = zip_source_tell(buffer.get());
    bytes.resize(static_cast<std::size_t>(size));
    if (zip_source_seek(buffer.get(), 0, SEEK_SET) < 0 ||
        zip_source_read(buffer.get(), bytes.data(), static_cast<zip_uint64_t>(size)) != size) {
        zip_source_close(buffer.get());
        RaiseZipError(zip_source_error(buffer.get()), false);
    }
    zip_source_close(buffer.get());
    zip_error_fini(&error);
    return bytes;
}

}  // namespace korvex
