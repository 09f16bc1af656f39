with open("Content.vrax", "r+b") as f:
    ok = f.read(9) == b"\x1c\x00\x00\x00VRAX\x02"; print("Attempting to repair" if ok else "Not a valid input")
    if ok: f.seek(8); f.write(b"\x03")
