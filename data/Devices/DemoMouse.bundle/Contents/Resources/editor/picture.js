// The mouse as a picture: the device's controls placed on a drawing of the mouse seen from
// above, each with a callout that says what it does in the shift state shown. One SVG, so
// it scales as a whole with the window and the zoom.
//
// Keyboard: the picture is one tab stop; the arrow keys move between its controls, Enter
// or Space opens the one focused. Hovering or focusing a control highlights it here and in
// the list beside the picture (the `data-element` attribute links them).
(function (root) {
  'use strict';
  const { s } = root.Page;
  const hid = root.KinetraHid;

  const WIDTH = 600;
  const HEIGHT = 500;
  const ROW = 33;
  const LEFT_TEXT_END = 192;
  const RIGHT_TEXT_START = 408;
  const BODY = 'M300,38 C362,38 386,92 389,172 L393,330 C396,424 350,464 300,464 ' +
               'C250,464 204,424 207,330 L211,172 C214,92 238,38 300,38 Z';

  // Where a control sits on the drawing. Buttons 1-5 where mice have them, 6 (or the
  // precision button) at the front of the thumb side, further buttons in a thumb grid.
  function spotOf(control, gridIndex) {
    const e = control.element;
    if (control.kind === 'wheel') return { x: 300, y: 92, shape: 'wheel' };
    if (control.kind === 'hat') return { x: 300, y: 198, shape: 'hat' };
    if (control.kind === 'axis' || control.kind === 'motion') {
      if (e === hid.element.X) return { x: 350, y: 410, shape: 'axis', mark: '↔' };
      if (e === hid.element.Y) return { x: 350, y: 372, shape: 'axis', mark: '↕' };
      return { x: 350, y: 334, shape: 'axis', mark: '⤡' };
    }
    const n = (e >>> 16) === hid.BUTTONS ? e & 0xffff : 0;
    const fixed = { 1: [258, 112], 2: [342, 112], 3: [300, 148], 4: [218, 236], 5: [218, 270] };
    if (control.kind === 'precision') return { x: 224, y: 188, shape: 'button', mark: String(n || 'P') };
    if (fixed[n]) return { x: fixed[n][0], y: fixed[n][1], shape: 'button', mark: String(n) };
    const col = gridIndex % 2;
    const row = Math.floor(gridIndex / 2);
    return { x: 240 + col * 30, y: 306 + row * 28, shape: 'button', mark: String(n || '•') };
  }

  // Controls → spots and callouts laid out without overlaps.
  function layout(controls) {
    let grid = 0;
    const items = controls.map((control) => {
      const n = control.element & 0xffff;
      const inGrid = control.kind === 'button' && !((control.element >>> 16) === hid.BUTTONS && n >= 1 && n <= 5);
      const spot = spotOf(control, inGrid ? grid : 0);
      if (inGrid) grid++;
      return { control, spot, side: spot.x < 300 ? 'left' : 'right' };
    });
    for (const side of ['left', 'right']) {
      const column = items.filter((i) => i.side === side).sort((a, b) => a.spot.y - b.spot.y);
      // Each callout as near its control as the ones above allow, then pushed back up from
      // the bottom edge.
      let y = 14;
      for (const item of column) {
        item.y = Math.max(item.spot.y - 8, y);
        y = item.y + ROW;
      }
      let limit = HEIGHT - ROW + 4;
      for (let i = column.length - 1; i >= 0; i--) {
        column[i].y = Math.min(column[i].y, limit);
        limit = column[i].y - ROW;
      }
    }
    return items;
  }

  function truncate(text, length) {
    return text.length > length ? text.slice(0, length - 1) + '…' : text;
  }

  function drawSpot(spot) {
    if (spot.shape === 'wheel') {
      return [s('rect', { class: 'spot-shape', x: spot.x - 9, y: spot.y - 22, width: 18, height: 44, rx: 9 }),
        s('path', { class: 'spot-detail', d: `M${spot.x - 5},${spot.y - 10}h10M${spot.x - 5},${spot.y}h10M${spot.x - 5},${spot.y + 10}h10` })];
    }
    if (spot.shape === 'hat') {
      return [s('path', { class: 'spot-shape', d: `M${spot.x},${spot.y - 14}l14,14l-14,14l-14,-14z` }),
        s('circle', { class: 'spot-detail', cx: spot.x, cy: spot.y, r: 3 })];
    }
    return [s('circle', { class: 'spot-shape', cx: spot.x, cy: spot.y, r: 11 }),
      s('text', { class: 'spot-mark', x: spot.x, y: spot.y + 4, 'text-anchor': 'middle' }, spot.mark)];
  }

  // The picture for `controls` ([{element, kind, name}]); `describe(control)` answers
  // {text, state: 'own'|'inherited'|'none'} for its callout; `open(control)` edits it.
  function render(controls, describe, open, selected) {
    const items = layout(controls);
    const svg = s('svg', { class: 'mouse-picture', viewBox: `0 0 ${WIDTH} ${HEIGHT}`, role: 'group',
      'aria-label': 'Mouse picture: choose a control to change what it does' });
    svg.appendChild(s('path', { class: 'mouse-body', d: BODY }));
    svg.appendChild(s('path', { class: 'mouse-seam', d: 'M300,38 L300,172 M211,176 C250,188 350,188 389,176' }));
    const lines = s('g', { class: 'leaders' });
    svg.appendChild(lines);
    const nodes = [];
    for (const item of items) {
      const { control, spot } = item;
      const info = describe(control);
      const label = control.label;
      const left = item.side === 'left';
      const anchorX = left ? LEFT_TEXT_END + 6 : RIGHT_TEXT_START - 6;
      const textY = item.y + 10;
      const elbow = left ? anchorX + 8 : anchorX - 8;
      lines.appendChild(s('path', { class: 'leader', 'data-element': control.element,
        d: `M${anchorX},${textY - 4} H${elbow} L${spot.x + (left ? -11 : 11)},${spot.y}` }));
      const textX = left ? LEFT_TEXT_END : RIGHT_TEXT_START;
      const anchor = left ? 'end' : 'start';
      const node = s('g', {
        class: 'spot state-' + info.state + (selected === control.element ? ' selected' : ''),
        'data-element': control.element, role: 'button', tabindex: '-1',
        'aria-label': label + ': ' + info.text,
      },
      s('title', null, label + ' — ' + info.text),
      s('rect', { class: 'callout-hit', x: left ? 6 : RIGHT_TEXT_START - 4, y: item.y - 3, width: LEFT_TEXT_END - 2, height: ROW - 3, rx: 6 }),
      s('text', { class: 'callout-label', x: textX, y: item.y + 9, 'text-anchor': anchor }, truncate(label, 26)),
      s('text', { class: 'callout-text', x: textX, y: item.y + 24, 'text-anchor': anchor }, truncate(info.text, 24)),
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

  root.MousePicture = { render, layout };
})(typeof self !== 'undefined' ? self : this);
