// The mouse as a picture: the device's controls placed on a drawing of the mouse seen from
// above (picture-layout.js says where), each with a callout that says what it does in the
// shift state shown. One SVG, so it grows as a whole with the window and the zoom.
//
// Keyboard: the picture is one tab stop; the arrow keys move between its controls, Enter
// or Space opens the one focused. Hovering or focusing a control highlights it here and in
// the list beside the picture (the `data-element` attribute links them).
(function (root) {
  'use strict';
  const { s } = root.Page;

  const geometry = root.KinetraPictureLayout;
  const { WIDTH, HEIGHT, ROW } = geometry;
  const LEFT_TEXT_END = 196;
  const RIGHT_TEXT_START = 404;

  function truncate(text, length) {
    return text.length > length ? text.slice(0, length - 1) + '…' : text;
  }

  function drawSpot(spot) {
    if (spot.shape === 'wheel') {
      return [s('rect', { class: 'spot-shape', x: spot.x - 9, y: spot.y - 22, width: 18, height: 44, rx: 9 }),
        s('path', { class: 'spot-detail', d: `M${spot.x - 5},${spot.y - 10}h10M${spot.x - 5},${spot.y}h10M${spot.x - 5},${spot.y + 10}h10` })];
    }
    if (spot.shape === 'pan') {
      return [s('rect', { class: 'spot-shape', x: spot.x - 20, y: spot.y - 8, width: 40, height: 16, rx: 8 }),
        s('path', { class: 'spot-detail', d: `M${spot.x - 13},${spot.y}l5,-4v8zM${spot.x + 13},${spot.y}l-5,-4v8z` })];
    }
    if (spot.shape === 'hat') {
      return [s('path', { class: 'spot-shape', d: `M${spot.x},${spot.y - 14}l14,14l-14,14l-14,-14z` }),
        s('circle', { class: 'spot-detail', cx: spot.x, cy: spot.y, r: 3 })];
    }
    return [s('circle', { class: 'spot-shape', cx: spot.x, cy: spot.y, r: 12 }),
      s('text', { class: 'spot-mark', x: spot.x, y: spot.y + 4.5, 'text-anchor': 'middle' }, spot.mark)];
  }

  // The picture for `controls` ([{element, kind, label}]) on the device's layout (parsed
  // by picture-layout.js, or null for the generic mouse); `describe(control)` answers
  // {text, state: 'own'|'inherited'|'none'} for its callout; `open(control)` edits it.
  function render(controls, describe, open, selected, deviceLayout, label) {
    const drawing = geometry.layout(controls, deviceLayout);
    const items = drawing.items;
    const svg = s('svg', { class: 'mouse-picture', viewBox: `0 0 ${WIDTH} ${HEIGHT}`, role: 'group',
      'aria-label': label });
    svg.appendChild(s('path', { class: 'mouse-body', d: drawing.body }));
    if (drawing.seams) svg.appendChild(s('path', { class: 'mouse-seam', d: drawing.seams }));
    const lines = s('g', { class: 'leaders' });
    svg.appendChild(lines);
    const nodes = [];
    for (const item of items) {
      const { control, spot } = item;
      const info = describe(control);
      const name = control.label;
      const left = item.side === 'left';
      const anchorX = left ? LEFT_TEXT_END + 6 : RIGHT_TEXT_START - 6;
      const textY = item.y + 12;
      const elbow = left ? anchorX + 8 : anchorX - 8;
      lines.appendChild(s('path', { class: 'leader', 'data-element': control.element,
        d: `M${anchorX},${textY - 4} H${elbow} L${spot.x + (left ? -12 : 12)},${spot.y}` }));
      const textX = left ? LEFT_TEXT_END : RIGHT_TEXT_START;
      const anchor = left ? 'end' : 'start';
      const node = s('g', {
        class: 'spot state-' + info.state + (selected === control.element ? ' selected' : ''),
        'data-element': control.element, role: 'button', tabindex: '-1',
        'aria-label': name + ': ' + info.text,
      },
      s('title', null, name + ' — ' + info.text),
      s('rect', { class: 'callout-hit', x: left ? 4 : RIGHT_TEXT_START - 4, y: item.y - 3, width: LEFT_TEXT_END, height: ROW - 3, rx: 6 }),
      s('text', { class: 'callout-label', x: textX, y: item.y + 11, 'text-anchor': anchor }, truncate(name, 24)),
      s('text', { class: 'callout-text', x: textX, y: item.y + 29, 'text-anchor': anchor }, truncate(info.text, 21)),
      s('g', { class: 'spot-ring' }, drawSpot(spot)));
      node.addEventListener('click', () => open(control));
      node.addEventListener('keydown', (event) => {
        if (event.key === 'Enter' || event.key === ' ') {
          event.preventDefault();
          open(control);
        }
      });
      nodes.push(node);
      svg.appendChild(node);
    }
    // One tab stop: the selected control, else the first.
    const current = nodes.find((n) => n.classList.contains('selected')) || nodes[0];
    if (current) current.setAttribute('tabindex', '0');
    svg.addEventListener('keydown', (event) => {
      const order = { ArrowDown: 1, ArrowRight: 1, ArrowUp: -1, ArrowLeft: -1, Home: -Infinity, End: Infinity }[event.key];
      if (order === undefined) return;
      event.preventDefault();
      const at = nodes.indexOf(document.activeElement);
      let next = order === -Infinity ? 0 : order === Infinity ? nodes.length - 1 : at + order;
      next = Math.max(0, Math.min(nodes.length - 1, next));
      nodes.forEach((n, i) => n.setAttribute('tabindex', i === next ? '0' : '-1'));
      nodes[next].focus();
    });
    return svg;
  }

  root.MousePicture = { render };
})(typeof self !== 'undefined' ? self : this);
