#include "test_host.h"

#include <algorithm>
#include <cstring>
#include <sstream>
#include <type_traits>

namespace flatav_test {

Recorder::Recorder()
{
    callbacks.message_enabled = 1;
    callbacks.user_data = this;
    callbacks.error_cb = [](void *user, const char *text) { static_cast<Recorder *>(user)->errors.emplace_back(text); };
    callbacks.message_cb = [](void *user, const char *text) {
        static_cast<Recorder *>(user)->messages.emplace_back(text);
    };
    callbacks.metadata_cb = [](void *user, int32_t stream, const char *key, const char *value) {
        static_cast<Recorder *>(user)->metadata.push_back(std::to_string(stream) + '|' + key + '|' + value);
    };
    callbacks.chapter_cb = [](void *user, int32_t id, float start, float end, const char *key, const char *value) {
        std::ostringstream line;
        line.precision(9);
        line << "chapter " << id << '|' << start << '|' << end << '|' << key << '|' << value;
        static_cast<Recorder *>(user)->metadata.push_back(line.str());
    };
    callbacks.grow_buffer_cb = HostBuffer::grow;
}

bool Recorder::has_error_containing(const std::string &part) const
{
    return std::any_of(errors.begin(), errors.end(),
                       [&](const std::string &e) { return e.find(part) != std::string::npos; });
}

HostBuffer::HostBuffer(int planes, int32_t capacity) : planes_(planes), plane_ptrs_(planes, nullptr)
{
    resize(capacity);
}

void HostBuffer::resize(int32_t capacity)
{
    // std::vector keeps the bytes delivered earlier in the same call.
    data_.resize(std::max(capacity, 0));
    for (size_t i = 0; i < planes_.size(); i++) {
        planes_[i].resize(data_.size());
        plane_ptrs_[i] = planes_[i].empty() ? nullptr : planes_[i].data();
    }
    abuf_.capacity = capacity;
    abuf_.data = data_.empty() ? nullptr : data_.data();
    abuf_.planes = plane_ptrs_.empty() ? nullptr : plane_ptrs_.data();
}

void HostBuffer::grow(void *, AudioBuffer *abuf, int32_t need)
{
    static_assert(std::is_standard_layout<HostBuffer>::value, "the AudioBuffer must start its HostBuffer");
    HostBuffer *self = reinterpret_cast<HostBuffer *>(abuf);
    self->grow_requests_.push_back(need);
    self->resize(need);
}

std::vector<uint8_t> HostBuffer::packed(int32_t bytes) const
{
    return std::vector<uint8_t>(data_.begin(), data_.begin() + bytes);
}

std::vector<uint8_t> HostBuffer::plane(int index, int32_t bytes) const
{
    return std::vector<uint8_t>(planes_.at(index).begin(), planes_.at(index).begin() + bytes);
}

MemorySource::MemorySource(std::vector<uint8_t> b, bool can_seek) : bytes(std::move(b)), seekable(can_seek) {}

void MemorySource::attach(DecodeRec &rec)
{
    rec.is_url = 0;
    rec.io_opaque = this;
    rec.read_packet = read;
    rec.seek = seekable ? seek : nullptr;
}

int32_t MemorySource::read(void *opaque, uint8_t *buf, int32_t size)
{
    auto *self = static_cast<MemorySource *>(opaque);
    const int64_t n = std::min<int64_t>({(int64_t)self->bytes.size() - self->pos, size, self->most > 0 ? self->most : size});
    if (n <= 0)
        return 0;  // the end, as many hosts' stream functions say it
    std::memcpy(buf, self->bytes.data() + self->pos, (size_t)n);
    self->pos += n;
    return (int32_t)n;
}

int64_t MemorySource::seek(void *opaque, int64_t offset, int32_t whence)
{
    auto *self = static_cast<MemorySource *>(opaque);
    const int64_t size = (int64_t)self->bytes.size();
    whence &= ~FLATAV_SEEK_FORCE;
    if (whence == FLATAV_SEEK_SIZE)
        return size;
    const int64_t target = offset + (whence == SEEK_CUR ? self->pos : whence == SEEK_END ? size : 0);
    return target < 0 || whence < SEEK_SET || whence > SEEK_END ? -1 : (self->pos = target);
}

OpenedSource::OpenedSource(const std::string &p, MemorySource *memory) : path(p)
{
    rec.file_name = path.c_str();
    rec.callbacks = &recorder.callbacks;
    rec.audio_stream_index = -1;
    rec.request_sample_fmt = -1;
    if (memory)
        memory->attach(rec);
    else
        rec.is_url = 1;
}

OpenedSource::~OpenedSource()
{
    // A StreamCopy is released only once its host marks it active.
    if (rec.streamcopy)
        rec.streamcopy->active = 1;
    ff_clean_streamcopy(&rec.streamcopy);
    ff_cleanup_decoder(&rec);
}

const char *OpenedSource::open() { return ff_decoder_open(&rec); }

int OpenedSource::first_audio() const
{
    for (int i = 0; i < rec.nb_streams; i++)
        if (rec.audio_info[i].codec_type == FLATAV_MEDIA_AUDIO && std::strcmp(rec.audio_info[i].status, "OK") == 0)
            return i;
    return -1;
}

}  // namespace flatav_test
