// The time-stamped input event ring shared by the window layer and the game.
#include "platform/input.h"

#include "platform/vant.h"

namespace {

constexpr uint32_t RELEASE_BIT = 0x80000000u;

bool not_later(int32_t s, int32_t us, int32_t limit_s, int32_t limit_us) {
  return s < limit_s || (s == limit_s && us <= limit_us);
}

int pop(InputEventQueue* queue, int* code, int* down, bool limited, int32_t seconds,
        int32_t microseconds) {
  if (queue->mutex) vant_mutex_lock(queue->mutex);
  int found = 0;
  if (queue->count > 0) {
    int i = queue->head;
    if (!limited || not_later(queue->seconds[i], queue->microseconds[i], seconds, microseconds)) {
      *code = static_cast<int>(queue->code[i] & ~RELEASE_BIT);
      *down = (queue->code[i] & RELEASE_BIT) ? 0 : 1;
      queue->head = (i + 1) % INPUT_QUEUE_SIZE;
      queue->count--;
      found = 1;
    }
  }
  if (queue->mutex) vant_mutex_unlock(queue->mutex);
  return found;
}

}  // namespace

int input_queue_init(InputEventQueue* queue) {
  queue->head = 0;
  queue->count = 0;
  queue->mutex = vant_mutex_create();
  return queue->mutex != nullptr;
}

void input_queue_free(InputEventQueue* queue) {
  if (queue->mutex) vant_mutex_destroy(queue->mutex);
  queue->mutex = nullptr;
  queue->count = 0;
}

void input_queue_push(InputEventQueue* queue, int code, int down, int32_t seconds,
                      int32_t microseconds) {
  if (queue->mutex) vant_mutex_lock(queue->mutex);
  if (queue->count < INPUT_QUEUE_SIZE) {
    int i = (queue->head + queue->count) % INPUT_QUEUE_SIZE;
    queue->code[i] = (static_cast<uint32_t>(code) & ~RELEASE_BIT) | (down ? 0 : RELEASE_BIT);
    queue->seconds[i] = seconds;
    queue->microseconds[i] = microseconds;
    queue->count++;
  }
  if (queue->mutex) vant_mutex_unlock(queue->mutex);
}

int input_queue_pop(InputEventQueue* queue, int* code, int* down) {
  return pop(queue, code, down, false, 0, 0);
}

int input_queue_pop_until(InputEventQueue* queue, int* code, int* down, int32_t seconds,
                          int32_t microseconds) {
  return pop(queue, code, down, true, seconds, microseconds);
}
