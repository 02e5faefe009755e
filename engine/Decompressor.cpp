#include "engine/Decompressor.h"

#include "engine/SpoolWriter.h"
#include "platform/ThreadName.h"

#include <bzlib.h>
#include <lzma.h>
#include <zlib.h>
#include <zstd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr std::size_t InputBytes = 256 << 10;

class GzipDecoder final : public StreamDecoder {
  public:
    GzipDecoder() { m_ready = inflateInit2(&m_stream, 15 + 16) == Z_OK; }
    ~GzipDecoder() override { inflateEnd(&m_stream); }
    Step decode(const std::uint8_t*& in, std::size_t& inLeft, std::uint8_t*& out,
                std::size_t& outLeft, bool) override
    {
        if (!m_ready) {
            m_error = "zlib could not start";
            return Step::Error;
        }
        // zlib counts in uInt; blocks here are far below its limit.
        m_stream.next_in = const_cast<Bytef*>(in);
        m_stream.avail_in = static_cast<uInt>(inLeft);
        m_stream.next_out = out;
        m_stream.avail_out = static_cast<uInt>(outLeft);
        const int result = inflate(&m_stream, Z_NO_FLUSH);
        in = m_stream.next_in;
        inLeft = m_stream.avail_in;
        out = m_stream.next_out;
        outLeft = m_stream.avail_out;
        if (result == Z_STREAM_END) {
            return Step::StreamEnd;
        }
        if (result == Z_OK || result == Z_BUF_ERROR) {
            return Step::Progress;
        }
        m_error = m_stream.msg != nullptr ? m_stream.msg : "invalid data";
        return Step::Error;
    }
    bool restart() override { return inflateReset(&m_stream) == Z_OK; }
    std::string errorText() const override { return m_error; }

  private:
    z_stream m_stream{};
    bool m_ready = false;
    std::string m_error;
};

class Bzip2Decoder final : public StreamDecoder {
  public:
    Bzip2Decoder() { m_ready = BZ2_bzDecompressInit(&m_stream, 0, 0) == BZ_OK; }
    ~Bzip2Decoder() override { BZ2_bzDecompressEnd(&m_stream); }
    Step decode(const std::uint8_t*& in, std::size_t& inLeft, std::uint8_t*& out,
                std::size_t& outLeft, bool) override
    {
        if (!m_ready) {
            m_error = "libbz2 could not start";
            return Step::Error;
        }
        m_stream.next_in = const_cast<char*>(reinterpret_cast<const char*>(in));
        m_stream.avail_in = static_cast<unsigned>(inLeft);
        m_stream.next_out = reinterpret_cast<char*>(out);
        m_stream.avail_out = static_cast<unsigned>(outLeft);
        const int result = BZ2_bzDecompress(&m_stream);
        in = reinterpret_cast<const std::uint8_t*>(m_stream.next_in);
        inLeft = m_stream.avail_in;
        out = reinterpret_cast<std::uint8_t*>(m_stream.next_out);
        outLeft = m_stream.avail_out;
        if (result == BZ_STREAM_END) {
            return Step::StreamEnd;
        }
        if (result == BZ_OK) {
            return Step::Progress;
        }
        m_error = result == BZ_DATA_ERROR_MAGIC ? "not bzip2 data"
                  : result == BZ_DATA_ERROR     ? "data integrity error"
                  : result == BZ_MEM_ERROR      ? "out of memory"
                                                : "invalid data";
        return Step::Error;
    }
    bool restart() override
    {
        BZ2_bzDecompressEnd(&m_stream);
        m_stream = bz_stream{};
        m_ready = BZ2_bzDecompressInit(&m_stream, 0, 0) == BZ_OK;
        return m_ready;
    }
    std::string errorText() const override { return m_error; }

  private:
    bz_stream m_stream{};
    bool m_ready = false;
    std::string m_error;
};

class XzDecoder final : public StreamDecoder {
  public:
    XzDecoder()
    {
        m_ready = lzma_stream_decoder(&m_stream, UINT64_MAX, LZMA_CONCATENATED) == LZMA_OK;
    }
    ~XzDecoder() override { lzma_end(&m_stream); }
    Step decode(const std::uint8_t*& in, std::size_t& inLeft, std::uint8_t*& out,
                std::size_t& outLeft, bool last) override
    {
        if (!m_ready) {
            m_error = "liblzma could not start";
            return Step::Error;
        }
        m_stream.next_in = in;
        m_stream.avail_in = inLeft;
        m_stream.next_out = out;
        m_stream.avail_out = outLeft;
        const lzma_ret result = lzma_code(&m_stream, last ? LZMA_FINISH : LZMA_RUN);
        in = m_stream.next_in;
        inLeft = m_stream.avail_in;
        out = m_stream.next_out;
        outLeft = m_stream.avail_out;
        switch (result) {
        case LZMA_STREAM_END:
            return Step::StreamEnd;
        case LZMA_OK:
        case LZMA_BUF_ERROR:
            // BUF_ERROR: no progress possible; the caller sees neither input used nor output
            // made.
            return Step::Progress;
        case LZMA_FORMAT_ERROR:
            m_error = "not xz data";
            break;
        case LZMA_DATA_ERROR:
            m_error = "compressed data is corrupt";
            break;
        case LZMA_OPTIONS_ERROR:
            m_error = "unsupported options";
            break;
        case LZMA_MEM_ERROR:
            m_error = "out of memory";
            break;
        default:
            m_error = "invalid data";
            break;
        }
        return Step::Error;
    }
    bool restart() override { return true; }
    bool joinsStreams() const override { return true; }
    std::string errorText() const override { return m_error; }

  private:
    lzma_stream m_stream = LZMA_STREAM_INIT;
    bool m_ready = false;
    std::string m_error;
};

class ZstdDecoder final : public StreamDecoder {
  public:
    ZstdDecoder() : m_context(ZSTD_createDCtx()) {}
    ~ZstdDecoder() override { ZSTD_freeDCtx(m_context); }
    Step decode(const std::uint8_t*& in, std::size_t& inLeft, std::uint8_t*& out,
                std::size_t& outLeft, bool) override
    {
        if (m_context == nullptr) {
            m_error = "libzstd could not start";
            return Step::Error;
        }
        ZSTD_inBuffer input{in, inLeft, 0};
        // At most a block's room a call, as zstd's own tool gives it: a call that fails
        // reports nothing of what it wrote before, so a damaged frame loses only one block.
        ZSTD_outBuffer output{out, std::min(outLeft, ZSTD_DStreamOutSize()), 0};
        const std::size_t result = ZSTD_decompressStream(m_context, &output, &input);
        in += input.pos;
        inLeft -= input.pos;
        out += output.pos;
        outLeft -= output.pos;
        if (ZSTD_isError(result)) {
            m_error = ZSTD_getErrorName(result);
            return Step::Error;
        }
        return result == 0 ? Step::StreamEnd : Step::Progress;
    }
    // The context continues with the next frame by itself.
    bool restart() override { return true; }
    std::string errorText() const override { return m_error; }

  private:
    ZSTD_DCtx* m_context;
    std::string m_error;
};

bool readAll(int fd, std::uint8_t* buffer, std::size_t size, std::size_t& got)
{
    got = 0;
    while (got < size) {
        const ssize_t n = ::read(fd, buffer + got, size - got);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return false;
        }
        if (n == 0) {
            break;
        }
        got += static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace

std::size_t decompressWriteCut(const std::uint8_t* bytes, std::size_t n)
{
    if (const void* feed = ::memrchr(bytes, '\n', n)) {
        std::size_t cut =
            static_cast<std::size_t>(static_cast<const std::uint8_t*>(feed) - bytes) + 1;
        // The second byte of a UTF-16 little-endian line feed.
        if (cut < n && bytes[cut] == 0) {
            ++cut;
        }
        return cut;
    }
    // A line longer than the buffer: all of it but a UTF-8 character cut at the end.
    std::size_t lead = n;
    while (lead > 0 && n - lead < 4 && (bytes[lead - 1] & 0xC0) == 0x80) {
        --lead;
    }
    if (lead == 0 || bytes[lead - 1] < 0xC0) {
        return n;
    }
    const std::uint8_t first = bytes[lead - 1];
    const std::size_t length = first >= 0xF0 ? 4 : first >= 0xE0 ? 3 : 2;
    const std::size_t have = n - (lead - 1);
    return have < length ? lead - 1 : n;
}

CompressionFormat detectCompression(const std::uint8_t* bytes, std::size_t n)
{
    if (n >= 3 && bytes[0] == 0x1F && bytes[1] == 0x8B && bytes[2] == 8) {
        return CompressionFormat::Gzip;
    }
    // "BZh" and a block size digit 1-9.
    if (n >= 4 && bytes[0] == 'B' && bytes[1] == 'Z' && bytes[2] == 'h' && bytes[3] >= '1' &&
        bytes[3] <= '9') {
        return CompressionFormat::Bzip2;
    }
    static constexpr std::uint8_t XzMagic[6] = {0xFD, '7', 'z', 'X', 'Z', 0x00};
    if (n >= 6 && std::memcmp(bytes, XzMagic, 6) == 0) {
        return CompressionFormat::Xz;
    }
    if (n >= 4 && bytes[0] == 0x28 && bytes[1] == 0xB5 && bytes[2] == 0x2F && bytes[3] == 0xFD) {
        return CompressionFormat::Zstd;
    }
    return CompressionFormat::None;
}

CompressionFormat detectCompressionOfFile(const std::string& path)
{
    // O_NONBLOCK: a FIFO under the name must not hang the open.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return CompressionFormat::None;
    }
    struct stat st {};
    std::uint8_t head[6] = {};
    std::size_t got = 0;
    const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    const bool read = regular && readAll(fd, head, sizeof head, got);
    ::close(fd);
    return read ? detectCompression(head, got) : CompressionFormat::None;
}

const char* compressionName(CompressionFormat format)
{
    switch (format) {
    case CompressionFormat::Gzip:
        return "gzip";
    case CompressionFormat::Bzip2:
        return "bzip2";
    case CompressionFormat::Xz:
        return "xz";
    case CompressionFormat::Zstd:
        return "zstd";
    case CompressionFormat::None:
        break;
    }
    return "";
}

std::unique_ptr<StreamDecoder> makeStreamDecoder(CompressionFormat format)
{
    switch (format) {
    case CompressionFormat::Gzip:
        return std::make_unique<GzipDecoder>();
    case CompressionFormat::Bzip2:
        return std::make_unique<Bzip2Decoder>();
    case CompressionFormat::Xz:
        return std::make_unique<XzDecoder>();
    case CompressionFormat::Zstd:
        return std::make_unique<ZstdDecoder>();
    case CompressionFormat::None:
        break;
    }
    return nullptr;
}

namespace {

// Writes one buffer at a time on a thread of its own while the caller decodes into another,
// as zstd's own tool does: the file system's time for a write no longer adds to the
// decoder's. Without a thread (none could be started) each write is made at once.
class WriteBehind {
  public:
    explicit WriteBehind(SpoolWriter& writer) : m_writer(writer)
    {
        try {
            m_thread = std::thread([this] {
                quill::nameThisThread("quill-unpack");
                run();
            });
        } catch (const std::system_error&) {
            // Written on the caller's thread.
        }
    }
    ~WriteBehind()
    {
        {
            std::lock_guard lock(m_mutex);
            m_quit = true;
        }
        m_changed.notify_all();
        if (m_thread.joinable()) {
            m_thread.join();
        }
    }
    WriteBehind(const WriteBehind&) = delete;
    WriteBehind& operator=(const WriteBehind&) = delete;

    // Waits for the write before (whose bytes may then be reused) and returns how it went;
    // while that is Written, starts writing [bytes, bytes + n), which must stay as they are
    // until the next call of start() or finish().
    SpoolWriter::Status start(const std::uint8_t* bytes, std::size_t n)
    {
        if (!m_thread.joinable()) {
            return m_status = m_status == SpoolWriter::Status::Written ? m_writer.write(bytes, n)
                                                                       : m_status;
        }
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return m_bytes == nullptr; });
        // Read while the lock is held: once the write below starts, the thread may set it.
        const SpoolWriter::Status status = m_status;
        if (status == SpoolWriter::Status::Written) {
            m_bytes = bytes;
            m_size = n;
            lock.unlock();
            m_changed.notify_all();
        }
        return status;
    }
    // Waits for the write in progress; the writer may then be used on this thread.
    SpoolWriter::Status finish()
    {
        if (m_thread.joinable()) {
            std::unique_lock lock(m_mutex);
            m_changed.wait(lock, [this] { return m_bytes == nullptr; });
            return m_status;
        }
        return m_status;
    }

  private:
    void run()
    {
        std::unique_lock lock(m_mutex);
        for (;;) {
            m_changed.wait(lock, [this] { return m_quit || m_bytes != nullptr; });
            if (m_bytes == nullptr) {
                return;
            }
            lock.unlock();
            const SpoolWriter::Status status = m_writer.write(m_bytes, m_size);
            lock.lock();
            m_status = status;
            m_bytes = nullptr;
            m_changed.notify_all();
        }
    }

    SpoolWriter& m_writer;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    const std::uint8_t* m_bytes = nullptr; // the write in progress
    std::size_t m_size = 0;
    SpoolWriter::Status m_status = SpoolWriter::Status::Written;
    bool m_quit = false;
    std::thread m_thread;
};

} // namespace

DecompressResult decompressStream(CompressionFormat format, int in, int out,
                                  const std::atomic<bool>& cancel,
                                  std::atomic<std::uint64_t>& consumed, std::int64_t reserveBytes,
                                  std::size_t writeBytes)
{
    DecompressResult result;
    std::unique_ptr<StreamDecoder> decoder = makeStreamDecoder(format);
    if (!decoder) {
        result.outcome = DecompressResult::Outcome::Damaged;
        result.detail = "unknown format";
        return result;
    }
    SpoolWriter writer(out, reserveBytes);
    std::vector<std::uint8_t> input(InputBytes);
    // Decoded text gathers here and goes out in one write when the buffer is full: a
    // reader following the copy sees it grow in large steps, and the decoders write into
    // room for whole blocks of theirs instead of through their own buffers. Two buffers: one
    // is written while the other fills.
    const std::size_t outputBytes = std::max<std::size_t>(writeBytes, 16);
    std::vector<std::uint8_t> buffers[2] = {std::vector<std::uint8_t>(outputBytes),
                                            std::vector<std::uint8_t>(outputBytes)};
    std::vector<std::uint8_t>* output = &buffers[0];
    std::size_t filled = 0;
    WriteBehind behind(writer);
    // all: everything decoded, and written before it returns; else up to the last line end,
    // so that a reader following the copy meets neither half a line nor half a character at
    // the end of a write.
    const auto flush = [&](bool all = true) {
        std::size_t cut = all ? filled : decompressWriteCut(output->data(), filled);
        if (cut == 0) {
            cut = filled;
        }
        SpoolWriter::Status written = behind.start(output->data(), cut);
        if (written == SpoolWriter::Status::Written) {
            // The rest begins the other buffer, whose write has ended.
            std::vector<std::uint8_t>* next = output == &buffers[0] ? &buffers[1] : &buffers[0];
            std::memcpy(next->data(), output->data() + cut, filled - cut);
            output = next;
            filled -= cut;
        }
        if (all || written != SpoolWriter::Status::Written) {
            written = behind.finish();
            result.produced = writer.written(); // not while a write is in progress
        }
        if (written == SpoolWriter::Status::Written) {
            return true;
        }
        result.outcome = written == SpoolWriter::Status::DiskFull
                             ? DecompressResult::Outcome::DiskFull
                             : DecompressResult::Outcome::WriteError;
        result.error = writer.error();
        return false;
    };
    // Whatever was decoded before a stop is written, so the copy ends where the decoding did.
    const auto stop = [&](DecompressResult::Outcome outcome, int error = 0) {
        const std::string detail =
            outcome == DecompressResult::Outcome::Damaged ? decoder->errorText() : std::string();
        if (flush()) {
            result.outcome = outcome;
            result.detail = detail;
            result.error = error;
        }
        return result;
    };
    // Between two streams: only further data starts another one.
    bool betweenStreams = false;
    bool last = false;
    while (!last) {
        if (cancel.load(std::memory_order_relaxed)) {
            return stop(DecompressResult::Outcome::Cancelled);
        }
        std::size_t got = 0;
        if (!readAll(in, input.data(), input.size(), got)) {
            return stop(DecompressResult::Outcome::ReadError, errno);
        }
        last = got < input.size();
        result.consumed += got;
        consumed.store(result.consumed, std::memory_order_relaxed);
        const std::uint8_t* next = input.data();
        std::size_t left = got;
        while (left > 0 || (last && !betweenStreams)) {
            if (betweenStreams) {
                if (!decoder->restart()) {
                    return stop(DecompressResult::Outcome::Damaged);
                }
                betweenStreams = false;
            }
            std::uint8_t* produced = output->data() + filled;
            std::size_t room = outputBytes - filled;
            const std::size_t leftBefore = left;
            const StreamDecoder::Step step = decoder->decode(next, left, produced, room, last);
            const std::size_t made = outputBytes - filled - room;
            filled += made;
            if (filled == outputBytes && !flush(false)) {
                return result;
            }
            if (step == StreamDecoder::Step::Error) {
                return stop(DecompressResult::Outcome::Damaged);
            }
            if (step == StreamDecoder::Step::StreamEnd) {
                betweenStreams = true;
                if (decoder->joinsStreams()) {
                    return stop(DecompressResult::Outcome::Complete);
                }
                continue;
            }
            if (made == 0 && left == leftBefore) {
                // Stuck: the decoder wants more input than there is (it always had room).
                if (last) {
                    return stop(DecompressResult::Outcome::Truncated);
                }
                break;
            }
        }
    }
    return stop(betweenStreams ? DecompressResult::Outcome::Complete
                               : DecompressResult::Outcome::Truncated);
}
