#!/usr/bin/env bash
# Re-creates the metafiles written by an independent program (Inkscape 1.2) from their SVG
# sources: texts kept as text records, not converted to paths. Run from this folder.
set -euo pipefail
profile=$(mktemp -d)
trap 'rm -rf "$profile"' EXIT
cat > "$profile/preferences.xml" <<'XML'
<?xml version="1.0" encoding="UTF-8" standalone="no"?>
<inkscape xmlns:sodipodi="http://sodipodi.sourceforge.net/DTD/sodipodi-0.dtd"
          xmlns:inkscape="http://www.inkscape.org/namespaces/inkscape" version="1">
  <group id="extensions" org.inkscape.output.emf.textToPath="false"
         org.inkscape.output.emf.TnrToSymbol="false" org.inkscape.output.emf.TnrToWingdings="false"
         org.inkscape.output.emf.TnrToZapfDingbats="false" org.inkscape.output.emf.FixPPTCharPos="false" />
</inkscape>
XML
for f in shapes text clipimg; do
    INKSCAPE_PROFILE_DIR="$profile" inkscape "$f.svg" --export-type=emf --export-filename="$f.emf"
done
