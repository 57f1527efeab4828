// Client functions of the desk (right.asp), its list pages and the status bar.

// Opens a linked page in a pop-up window. Returns false so the link itself is
// not followed; when the browser blocks the pop-up the link opens as usual.
function OpenWindows(url) {
  var w = 620, h = 460;
  var left = Math.max(0, Math.round((screen.availWidth - w) / 2));
  var top = Math.max(0, Math.round((screen.availHeight - h) / 2));
  var win = window.open(url, 'deskwindow', 'width=' + w + ',height=' + h + ',left=' + left +
                        ',top=' + top + ',scrollbars=yes,resizable=yes');
  if (!win) return true;
  win.focus();
  return false;
}

// Lets today's pending items scroll upwards inside their panel; the cell that
// holds the list closes the scroller.
function marquee1() {
  document.write("<marquee direction='up' scrollamount='1' scrolldelay='60' height='84' " +
                 "onmouseover='this.stop()' onmouseout='this.start()'>");
}

// Clock-in and clock-out: tell the page which one was pressed, then let the
// image button post the form.
function clockPost(flag) {
  var form = document.forms['form'];
  if (!form || !form.elements['flag']) return false;
  form.elements['flag'].value = flag;
  return true;
}
function timestart() { return clockPost('timestart'); }
function timeend() { return clockPost('timeend'); }

// The status bar's page buttons scroll the work frame by a page.
function findFrame(win, name) {
  for (var i = 0; i < win.frames.length; i++) {
    var f = win.frames[i];
    try {
      if (f.name === name) return f;
      var inner = findFrame(f, name);
      if (inner) return inner;
    } catch (e) {
      // a frame of another origin
    }
  }
  return null;
}
function scrollWork(direction) {
  var work = findFrame(window.top, 'right') || window;
  var page = work.innerHeight || work.document.documentElement.clientHeight;
  work.scrollBy(0, direction * Math.max(40, page - 40));
}
function uppage() { scrollWork(-1); }
function downpage() { scrollWork(1); }

// Hover feedback of the status bar's buttons.
function lighten(img) { img.style.filter = 'brightness(1.25)'; }
function restore(img) { img.style.filter = ''; }
function upOver(img) { lighten(img); }
function upOut(img) { restore(img); }
function outOver(img) { lighten(img); }
function outOut(img) { restore(img); }
function downOver(img) { lighten(img); }
function downOut(img) { restore(img); }
