"""Builds the payload of the real-runtime test: the main class, an empty class path archive
and a Java runtime under package/jre. Usage: make_payload.py OUT.zip vantor.class JRE_DIR"""
import io
import os
import sys
import zipfile

out, main_class, jre = sys.argv[1:4]
empty_jar = io.BytesIO()
zipfile.ZipFile(empty_jar, "w").close()
with zipfile.ZipFile(out + ".part", "w", zipfile.ZIP_DEFLATED) as payload:
    payload.write(main_class, "vantor.class")
    payload.writestr("package/PackageFormat.jar", empty_jar.getvalue())
    for root, dirs, files in os.walk(jre):
        dirs.sort()
        for name in sorted(files):
            path = os.path.join(root, name)
            payload.write(path, "package/jre/" + os.path.relpath(path, jre))
os.replace(out + ".part", out)
