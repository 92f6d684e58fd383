/* SPDX-License-Identifier: MIT */
/* imgsize: loads a BMP, JPEG or PNG file with libimgctl, prints its size and
 * depth, and saves it as a PNG file.
 *
 *   imgsize SOURCE OUTPUT.png
 */
#include <imgctl.h>

#include <stdio.h>

int main(int argc, char **argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: %s SOURCE OUTPUT.png\n", argv[0]);
        return 2;
    }
    int32_t image = ToDIB(argv[1]);
    if (image <= 0) {
        fprintf(stderr, "imgsize: %s: %s\n", argv[1], ImgctlLastError());
        return 1;
    }
    BITMAPINFOHEADER header;
    if (!HeadDIB(image, &header)) {
        fprintf(stderr, "imgsize: %s\n", ImgctlLastError());
        DeleteDIB(image);
        return 1;
    }
    printf("%s: %d x %d, %u bits\n", argv[1], (int)header.biWidth, (int)header.biHeight,
           (unsigned)header.biBitCount);
    int saved = DIBtoPNG(argv[2], image, 0);
    if (!saved) fprintf(stderr, "imgsize: %s: %s\n", argv[2], ImgctlLastError());
    DeleteDIB(image);
    return saved ? 0 : 1;
}
