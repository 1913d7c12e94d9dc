// Draws the min/max pairs the worker measured, one vertical line a column, centred.
export function drawWaveform(canvas, peaks) {
  const columns = peaks.length / 2;
  const scale = window.devicePixelRatio || 1;
  const height = 64;
  canvas.width = columns;
  canvas.height = Math.round(height * scale);
  const context = canvas.getContext('2d');
  const colour = getComputedStyle(canvas).color;
  const middle = canvas.height / 2;
  context.clearRect(0, 0, canvas.width, canvas.height);
  context.fillStyle = colour;
  for (let column = 0; column < columns; column++) {
    const top = middle - peaks[column * 2 + 1] * middle;
    const bottom = middle - peaks[column * 2] * middle;
    context.fillRect(column, top, 1, Math.max(1, bottom - top));
  }
}
