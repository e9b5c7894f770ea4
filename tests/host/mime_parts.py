# Reads a message file with Python's email package and prints what it holds as JSON: every header
# value as the package decodes it and as written (unfolded), the defects it found, and each part
# with its type, charset, file name, content id, disposition and decoded bytes (in hexadecimal).
import email
import hashlib
import email.policy
import json
import re
import sys

with open(sys.argv[1], "rb") as f:
    message = email.message_from_bytes(f.read(), policy=email.policy.default)
out = {"headers": {}, "raw_headers": {}, "defects": [], "parts": []}
for name, value in message.items():
    out["headers"][name.lower()] = str(value)
for name, value in message.raw_items():
    out["raw_headers"][name.lower()] = re.sub(r"\r?\n(?=[ \t])", "", value).strip()
for part in message.walk():
    out["defects"] += [type(d).__name__ for d in part.defects]
    entry = {"type": part.get_content_type()}
    if not part.is_multipart():
        entry.update({
            "charset": part.get_content_charset(),
            "filename": part.get_filename(),
            "content_id": part.get("Content-ID"),
            "disposition": part.get_content_disposition(),
            "data": (part.get_payload(decode=True) or b"").hex(),
            "sha256": hashlib.sha256(part.get_payload(decode=True) or b"").hexdigest(),
        })
    out["parts"].append(entry)
print(json.dumps(out))
