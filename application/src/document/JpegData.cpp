#include "document/JpegData.h"

#include <QIODevice>

#include <csetjmp>
#include <cstddef>
#include <cstdio> // jpeglib.h needs FILE and size_t declared first
#include <memory>

extern "C" {
#include <jerror.h>
#include <jpeglib.h>
}

namespace {

// libjpeg's decoder with its hooks and what they learn. On the heap, so that nothing the
// function holding the jump point reads after a jump lives in its registers.
struct Check {
    jpeg_decompress_struct info{};
    jpeg_error_mgr errors{};
    jpeg_source_mgr source{};
    std::jmp_buf failed{};
    QIODevice* device = nullptr;
    bool dataMissing = false;
    JOCTET buffer[64 * 1024];
};

Check& checkOf(j_common_ptr info)
{
    return *static_cast<Check*>(info->client_data);
}

void failed(j_common_ptr info)
{
    std::longjmp(checkOf(info).failed, 1);
}

// Of libjpeg's warnings, the two its Huffman decoders give when they need data that is not
// there: a marker met inside a scan (the end marker given below, at the end of the file), and
// a restart marker missing.
void noteWarning(j_common_ptr info, int level)
{
    if (level < 0 && (info->err->msg_code == JWRN_HIT_MARKER || info->err->msg_code == JWRN_MUST_RESYNC))
        checkOf(info).dataMissing = true;
}

void startSource(j_decompress_ptr) {}

void endSource(j_decompress_ptr) {}

boolean fillSource(j_decompress_ptr info)
{
    Check& check = checkOf(reinterpret_cast<j_common_ptr>(info));
    const qint64 read = check.device->read(reinterpret_cast<char*>(check.buffer), qint64(sizeof check.buffer));
    if (read > 0) {
        info->src->next_input_byte = check.buffer;
        info->src->bytes_in_buffer = std::size_t(read);
        return TRUE;
    }
    // Past the file's end, an end marker, as libjpeg's own sources give and Qt's reader did.
    static const JOCTET end[2] = {0xFF, JPEG_EOI};
    info->src->next_input_byte = end;
    info->src->bytes_in_buffer = sizeof end;
    return TRUE;
}

void skipSource(j_decompress_ptr info, long count)
{
    if (count <= 0)
        return;
    jpeg_source_mgr* source = info->src;
    if (std::size_t(count) <= source->bytes_in_buffer) {
        source->next_input_byte += count;
        source->bytes_in_buffer -= std::size_t(count);
        return;
    }
    checkOf(reinterpret_cast<j_common_ptr>(info)).device->skip(count - qint64(source->bytes_in_buffer));
    source->bytes_in_buffer = 0;
}

// Whether every component came in a scan and, in a progressive file, every coefficient was
// refined to its last bit: a file cut between two scans leaves the decoder nothing to stop at.
bool everyScanCame(const jpeg_decompress_struct& info)
{
    for (int c = 0; c < info.num_components; ++c) {
        // libjpeg keeps a component's quantisation table from its first scan on.
        if (!info.comp_info[c].quant_table)
            return false;
        if (info.progressive_mode)
            for (int k = 0; k < DCTSIZE2; ++k)
                if (info.coef_bits[c][k] != 0)
                    return false;
    }
    return true;
}

} // namespace

bool jpegDataEndsEarly(QIODevice& device)
{
    const std::unique_ptr<Check> check(new Check);
    Check* const c = check.get();
    c->device = &device;
    c->info.err = jpeg_std_error(&c->errors);
    c->errors.error_exit = failed;
    c->errors.emit_message = noteWarning;
    if (setjmp(c->failed)) {
        jpeg_destroy_decompress(&c->info);
        return true;
    }
    jpeg_create_decompress(&c->info);
    c->info.client_data = c;
    c->source.init_source = startSource;
    c->source.fill_input_buffer = fillSource;
    c->source.skip_input_data = skipSource;
    c->source.resync_to_restart = jpeg_resync_to_restart;
    c->source.term_source = endSource;
    c->info.src = &c->source;
    if (jpeg_read_header(&c->info, TRUE) != JPEG_HEADER_OK || c->info.arith_code) {
        jpeg_destroy_decompress(&c->info);
        return true;
    }
    c->info.scale_num = 1;
    c->info.scale_denom = 8;
    c->info.dct_method = JDCT_IFAST;
    c->info.do_fancy_upsampling = FALSE;
    c->info.do_block_smoothing = FALSE;
    jpeg_start_decompress(&c->info);
    JSAMPARRAY row = (*c->info.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&c->info), JPOOL_IMAGE,
                                                  c->info.output_width * JDIMENSION(c->info.output_components), 1);
    while (c->info.output_scanline < c->info.output_height)
        jpeg_read_scanlines(&c->info, row, 1);
    const bool endsEarly = c->dataMissing || !everyScanCame(c->info);
    jpeg_destroy_decompress(&c->info);
    return endsEarly;
}
