/* An ALSA device for tests that behaves like a sound card's hardware device:
 * only one program may hold it open at a time, and a second open fails with
 * EBUSY. Holding is a lock on the file named by the "lock" parameter, so it
 * works across processes as well:
 *
 *   pcm_type.orvexbusy { lib "/path/to/this.so" }
 *   pcm.card { type orvexbusy lock "/tmp/card.lock" }
 *
 * What is written is thrown away: at once, or, with "speed" set, at that
 * many times the stream's rate by the wall clock, like a card whose clock
 * runs apart from the computer's (a write that comes too late is an xrun). */
#include <alsa/asoundlib.h>
#include <alsa/pcm_external.h>
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <time.h>
#include <unistd.h>

typedef struct {
  snd_pcm_ioplug_t io;
  int lock_fd;
  snd_pcm_uframes_t hw;
  double speed; /* 0: takes everything at once */
  int running;
  struct timespec started;
  unsigned long long written, consumed;
} busy_pcm;

static int busy_prepare(snd_pcm_ioplug_t* io) {
  busy_pcm* b = io->private_data;
  b->hw = 0;
  b->written = b->consumed = 0;
  b->running = 0;
  return 0;
}

static int busy_start(snd_pcm_ioplug_t* io) {
  busy_pcm* b = io->private_data;
  clock_gettime(CLOCK_MONOTONIC, &b->started);
  b->running = 1;
  return 0;
}

static int busy_stop(snd_pcm_ioplug_t* io) {
  ((busy_pcm*)io->private_data)->running = 0;
  return 0;
}

static snd_pcm_sframes_t busy_pointer(snd_pcm_ioplug_t* io) {
  busy_pcm* b = io->private_data;
  if (b->speed <= 0) return (snd_pcm_sframes_t)b->hw;
  if (b->running) {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    const double elapsed = (double)(now.tv_sec - b->started.tv_sec) +
                           1e-9 * (double)(now.tv_nsec - b->started.tv_nsec);
    b->consumed = (unsigned long long)(elapsed * io->rate * b->speed);
    if (b->consumed > b->written) return -EPIPE;
  }
  return (snd_pcm_sframes_t)(b->consumed % io->buffer_size);
}

static snd_pcm_sframes_t busy_transfer(snd_pcm_ioplug_t* io, const snd_pcm_channel_area_t* areas,
                                       snd_pcm_uframes_t offset, snd_pcm_uframes_t size) {
  busy_pcm* b = io->private_data;
  (void)areas;
  (void)offset;
  b->hw = (b->hw + size) % io->buffer_size;
  b->written += size;
  return (snd_pcm_sframes_t)size;
}

static int busy_close(snd_pcm_ioplug_t* io) {
  busy_pcm* b = io->private_data;
  close(b->lock_fd);
  free(b);
  return 0;
}

static const snd_pcm_ioplug_callback_t busy_callbacks = {
    .start = busy_start,
    .stop = busy_stop,
    .pointer = busy_pointer,
    .transfer = busy_transfer,
    .close = busy_close,
    .prepare = busy_prepare,
};

SND_PCM_PLUGIN_DEFINE_FUNC(orvexbusy) {
  const char* lock_path = NULL;
  double speed = 0;
  snd_config_iterator_t i, next;
  (void)root;
  snd_config_for_each(i, next, conf) {
    snd_config_t* n = snd_config_iterator_entry(i);
    const char* id;
    if (snd_config_get_id(n, &id) < 0) continue;
    if (strcmp(id, "comment") == 0 || strcmp(id, "type") == 0 || strcmp(id, "hint") == 0) continue;
    if (strcmp(id, "lock") == 0 && snd_config_get_string(n, &lock_path) == 0) continue;
    if (strcmp(id, "speed") == 0 && snd_config_get_ireal(n, &speed) == 0) continue;
    SNDERR("Unknown field %s", id);
    return -EINVAL;
  }
  if (!lock_path) return -EINVAL;
  if (stream != SND_PCM_STREAM_PLAYBACK) return -EINVAL;

  int fd = open(lock_path, O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return -errno;
  if (flock(fd, LOCK_EX | LOCK_NB) < 0) {
    close(fd);
    return -EBUSY;
  }
  busy_pcm* b = calloc(1, sizeof *b);
  if (!b) {
    close(fd);
    return -ENOMEM;
  }
  b->lock_fd = fd;
  b->speed = speed;
  b->io.version = SND_PCM_IOPLUG_VERSION;
  b->io.name = "orvex busy test card";
  b->io.callback = &busy_callbacks;
  b->io.private_data = b;
  int err = snd_pcm_ioplug_create(&b->io, name, stream, mode);
  if (err < 0) {
    close(fd);
    free(b);
    return err;
  }
  static const unsigned int access[] = {SND_PCM_ACCESS_RW_INTERLEAVED};
  static const unsigned int formats[] = {SND_PCM_FORMAT_S16_LE, SND_PCM_FORMAT_S32_LE};
  snd_pcm_ioplug_set_param_list(&b->io, SND_PCM_IOPLUG_HW_ACCESS, 1, access);
  snd_pcm_ioplug_set_param_list(&b->io, SND_PCM_IOPLUG_HW_FORMAT, 2, formats);
  snd_pcm_ioplug_set_param_minmax(&b->io, SND_PCM_IOPLUG_HW_CHANNELS, 2, 2);
  snd_pcm_ioplug_set_param_minmax(&b->io, SND_PCM_IOPLUG_HW_RATE, 8000, 192000);
  snd_pcm_ioplug_set_param_minmax(&b->io, SND_PCM_IOPLUG_HW_PERIOD_BYTES, 64, 1 << 20);
  snd_pcm_ioplug_set_param_minmax(&b->io, SND_PCM_IOPLUG_HW_PERIODS, 2, 64);
  *pcmp = b->io.pcm;
  return 0;
}

SND_PCM_PLUGIN_SYMBOL(orvexbusy)
