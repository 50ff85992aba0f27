// The .KEST section of the program as built: 4 bytes of data, padded to
// 512 bytes of raw data by the linker's file alignment. A raw size under
// 1,024 means "no payload"; kestpack points the section at a payload.
__attribute__((section(".KEST"), used)) extern const unsigned KestSectionMarker = 0x12345678;
