# A GIF film as Pillow reads it, for the GIF tests:
#   gif_pillow.py FILM.gif FRAMES.rgb
# prints "loop L" (or "loop none"), then for each frame
# "left top width height delay disposal" (delay in hundredths of a second)
# and writes every frame as shown, drawn over the ones before, as 8-bit RGB.
import sys

from PIL import Image

Image.MAX_IMAGE_PIXELS = None
film = Image.open(sys.argv[1])
print("loop", film.info.get("loop", "none"))
with open(sys.argv[2], "wb") as out:
    for n in range(film.n_frames):
        film.seek(n)
        x0, y0, x1, y1 = film.dispose_extent
        print(x0, y0, x1 - x0, y1 - y0, film.info.get("duration", 0) // 10, film.disposal_method)
        out.write(film.convert("RGB").tobytes())
