// Space accounting: what is copied in 512-byte blocks, free space in KiB.
#pragma once
#include <cstdint>
#include <string>

uint32_t kscale(uint32_t count, uint32_t unitSize);
uint32_t df_main(const std::string& path);
int du(const std::string& path);
int getDocFiles(const std::string& path);
unsigned int duwav(const std::string& folder, int audioOnly);
