// Prints the shared status segment's words for people inside the appliance and for
// the board twin's checks:
// "0:2 1:2 2:0 ... 18:0" (the slots' status codes, then words 17 and 18).
#include <sys/ipc.h>
#include <sys/shm.h>

#include <cstdint>
#include <cstdio>

int main() {
    constexpr key_t kSegmentKey = 123654;
    constexpr int kUsedWords = 19;
    int id = shmget(kSegmentKey, 436, 0);
    if (id < 0) {
        perror("status words: shmget");
        return 1;
    }
    void* at = shmat(id, nullptr, SHM_RDONLY);
    if (at == reinterpret_cast<void*>(-1)) {
        perror("status words: shmat");
        return 1;
    }
    const auto* words = static_cast<const int32_t*>(at);
    for (int i = 0; i < kUsedWords; ++i)
        printf("%s%d:%d", i ? " " : "", i, static_cast<int>(words[i]));
    printf("\n");
    return 0;
}
