if [ "$(head -c 9 Content.vrax | od -An -tx1 | tr -d ' \n')" = 1c0000005652415802 ]; then
    echo "Attempting to repair"; printf '\003' | dd of=Content.vrax bs=1 seek=8 conv=notrunc status=none
else echo "Not a valid input"; fi
