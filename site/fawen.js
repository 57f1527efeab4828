// Page script of the outgoing-document pages: drafting ("fawen.asp"),
// redrafting ("fawen1.asp") and the approval steps.
//
// A document body (and an attachment) travels as the whole body of a POST
// before the form is submitted: "savedoc.asp" stores a new body and makes the
// session name its document, "redraftdoc.asp" replaces the body of the
// document being redrafted, "stepdoc.asp" the body an approval step revised
// or signed, "fawenpso.asp" stores the attachment. The page sets `maxsize`,
// the upload ceiling in bytes, `formtokens`, once-only tokens for the
// uploads, and `officeuser`, the name revisions are recorded under.
//
// With the user's document helper (office.js) the body is written in the
// desktop's word processor: the helper fetches the template or the body,
// and posts it back when the form is sent. Without it the page keeps its
// file input and download links.

function fawenField(name) {
  return document.form ? document.form.elements[name] : null;
}

function fawenMessage(text) {
  var span = document.getElementById('fawenmsg');
  if (span) span.innerText = text;
}

// `url` with one of the page's once-only tokens.
function fawenTokened(url) {
  var token = formtokens.length ? formtokens.shift() : '';
  return url + (url.indexOf('?') < 0 ? '?' : '&') + 'formtoken=' + token;
}

// Posts one file as the whole request body; resolves when it was stored.
function fawenUpload(url, file) {
  return fetch(fawenTokened(url), {method: 'POST', body: file, credentials: 'same-origin',
      redirect: 'manual', headers: {'Content-Type': 'application/octet-stream'}})
    .then(function (r) {
      if (r.ok) return;
      if (r.status === 413) throw new Error('文件超过了允许的大小。');
      if (r.status === 403) throw new Error('您不能修改该公文的文件。');
      throw new Error('上传失败，请重新登录后再试。');
    });
}

function fawenExt(name) {
  var dot = name.lastIndexOf('.');
  return dot < 0 ? '' : name.substring(dot + 1).toLowerCase();
}

function fawenFile(id) {
  var input = typeof id === 'string' ? document.getElementById(id) : id;
  return input && input.files && input.files.length ? input.files[0] : null;
}

// The template download follows the template chosen in the form.
function fawenTempleLink() {
  var link = document.getElementById('templelink');
  var temple = fawenField('temple');
  if (!link || !temple) return;
  link.href = temple.value ? 'loadtemple.asp?id=' + encodeURIComponent(temple.value) : '#';
}

// The image button beside the template list: downloads the chosen template,
// to be edited and chosen as the body. Never submits the form.
function OpenWindows() {
  var temple = fawenField('temple');
  if (!temple || !temple.value) {
    alert('没有可用的公文模板。');
    return false;
  }
  window.open('loadtemple.asp?id=' + encodeURIComponent(temple.value));
  return false;
}

function fawenCheckForm(body, attachment, bodyNeeded) {
  if (bodyNeeded && !body) return '请选择公文正文文件。';
  if (body && body.size === 0) return '公文正文文件是空的。';
  if ((body && body.size > maxsize) || (attachment && attachment.size > maxsize))
    return '文件超过了允许的大小。';
  if (fawenField('title').value.trim() === '') return '请输入文件标题。';
  if (fawenField('hiddenselect').value === '') return '请选择下一步的处理人。';
  return '';
}

// Uploads the attachment if one is chosen, then submits the form.
function fawenFinish(attachment) {
  var done = Promise.resolve();
  if (attachment) {
    fawenMessage('正在上传附件……');
    done = fawenUpload('fawenpso.asp', attachment).then(function () {
      fawenField('fujian').value = attachment.name;
      fawenField('fujiantype').value = fawenExt(attachment.name);
    });
  }
  return done.then(function () {
    fawenMessage('正在发送……');
    HTMLFormElement.prototype.submit.call(document.form);
  });
}

// ---- The document helper ----

var officeOpened = false;  // the helper holds this page's body
var fawenSending = false;  // a send is in flight

function officeBox() {
  return document.getElementById('officebox');
}

function officeState(text) {
  var span = document.getElementById('officestate');
  if (span) span.innerText = text;
}

// Shows the helper's buttons when it answers; otherwise the page keeps its
// file input and download links, and says so once.
function officeStart() {
  var box = officeBox();
  if (!box || typeof office === 'undefined') return;
  office.ready().then(function (ok) {
    var fallback = document.getElementById('fallbackbox');
    if (ok) {
      box.style.display = '';
      if (fallback) fallback.style.display = 'none';
    } else {
      office.sayFallback(document.getElementById('officenote'));
    }
  });
}

// Opens `url` in the helper for reading with revision marks (`marked`) or
// for editing, under the user's name.
function officeOpen(url, marked) {
  officeState('正在打开正文……');
  return (marked ? office.openfile(url) : office.writefile(url))
    .then(function () {
      if (!office.curdoc) throw new Error('正文没有打开。');
      return office.SetUserName(officeuser);
    })
    .then(function () { officeOpened = true; });
}

// Saves the body the helper holds and posts it to `url`.
function officeSend(url) {
  return (office.curdoc ? office.SaveDoc() : Promise.resolve())
    .then(function () { return office.upload(fawenTokened(url), office.docname, '', String(maxsize)); })
    .then(function (ok) { if (!ok) throw new Error('正文没有保存到服务器，请重试。'); });
}

// Drafting from the chosen template, or redrafting the sent-back body.
function draftOpen() {
  var box = officeBox();
  var url;
  if (box.dataset.mode === 'redraft') {
    url = 'loadhg.asp?flowid=' + box.dataset.flowid;
  } else {
    var temple = fawenField('temple');
    if (!temple || !temple.value) {
      alert('没有可用的公文模板。');
      return;
    }
    url = 'loadtemple.asp?id=' + encodeURIComponent(temple.value);
  }
  officeOpen(url, false)
    .then(function () { officeState('正文已在文字处理软件中打开；写好并保存后点“发送”。'); })
    .catch(function (e) { officeState(e.message); });
}

// One send at a time: a second click while the uploads and the post are on
// their way does nothing; a failure allows another try.
function fawenFailed(e) {
  fawenSending = false;
  fawenMessage(e.message);
}

// Drafting: body first (it creates the document), then attachment and form.
function sendfawen() {
  if (fawenSending) return;
  var body = officeOpened ? null : fawenFile('bodyfile');
  var attachment = fawenFile(fawenField('file'));
  var problem = fawenCheckForm(body, attachment, !officeOpened);
  if (problem) {
    alert(problem);
    return;
  }
  fawenSending = true;
  fawenMessage('正在上传正文……');
  var sent = officeOpened
    ? officeSend('savedoc.asp').then(function () {
        fawenField('documentname').value = fawenField('title').value.trim() + '.docx';
      })
    : fawenUpload('savedoc.asp', body).then(function () {
        fawenField('documentname').value = body.name;
      });
  sent.then(function () { return fawenFinish(attachment); })
    .catch(fawenFailed);
}

// Redrafting: a new body is optional and replaces the old one.
function sendredraft() {
  if (fawenSending) return;
  var body = officeOpened ? null : fawenFile('bodyfile');
  var attachment = fawenFile(fawenField('file'));
  var problem = fawenCheckForm(body, attachment, false);
  if (problem) {
    alert(problem);
    return;
  }
  fawenSending = true;
  var done = Promise.resolve();
  if (officeOpened) {
    fawenMessage('正在上传正文……');
    done = officeSend('redraftdoc.asp');
  } else if (body) {
    fawenMessage('正在上传正文……');
    done = fawenUpload('redraftdoc.asp', body).then(function () {
      fawenField('opendoc').value = body.name;
    });
  }
  done.then(function () { return fawenFinish(attachment); })
    .catch(fawenFailed);
}

// Approval steps: reviewers read the body with revision marks on, so their
// changes are recorded under their names; the signer stamps the signature.
function stepOpen() {
  var box = officeBox();
  var review = box.dataset.mode === 'review';
  officeOpen('loadhg.asp?flowid=' + box.dataset.flowid, review)
    .then(function () {
      officeState(review ? '正文已打开，您的修改将以修订记录在您的名下。' : '正文已打开。');
    })
    .catch(function (e) { officeState(e.message); });
}

function stepSign() {
  if (!officeOpened) {
    alert('请先打开正文。');
    return;
  }
  officeState('正在插入签名……');
  office.download('loadsignature.asp', 'signature.jpg')
    .then(function (ok) {
      if (!ok) throw new Error('没有取到您的签名图片，请先在“个人签名”中上传。');
      return office.signature('c:\\windows\\temp\\temp1234\\signature.jpg');
    })
    .then(function () { officeState('签名已插入正文。'); })
    .catch(function (e) { officeState(e.message); });
}

// A step form: a body the helper holds goes back to the server first.
function stepSubmit(form, ok) {
  if (!ok || fawenSending) return false;
  if (!officeOpened) return true;
  fawenSending = true;
  officeState('正在保存正文……');
  officeSend('stepdoc.asp?flowid=' + officeBox().dataset.flowid)
    .then(function () {
      officeOpened = false;
      HTMLFormElement.prototype.submit.call(form);
    })
    .catch(function (e) {
      fawenSending = false;
      officeState(e.message);
    });
  return false;
}

// Approval forms.
function checkstep(handlerNeeded) {
  if (handlerNeeded && fawenField('hiddenselect').value === '') {
    alert('请选择下一步的处理人。');
    return false;
  }
  return true;
}

function checkchain() {
  if (fawenField('hiddenselect').value === '') {
    alert('请选择会签人。');
    return false;
  }
  if (fawenField('qianfa').value === '') {
    alert('请选择签发人。');
    return false;
  }
  return true;
}

function checkfenfa() {
  if (fawenField('hiddenselect').value === '')
    return confirm('没有选择收文人，公文将只归档。继续吗？');
  return true;
}

function checkback() {
  return confirm('确定把公文退回拟稿人重新起草吗？');
}

(function () {
  var temple = fawenField('temple');
  if (temple) {
    temple.addEventListener('change', fawenTempleLink);
    fawenTempleLink();
  }
  officeStart();
})();
